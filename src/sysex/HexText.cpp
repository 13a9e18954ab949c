#include "sysex/HexText.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "sysex/Inspector.h"

namespace sysex {

std::string HexText(MessageBytes message, std::size_t bytesPerLine) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(message.size() * 3);
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (i > 0) text += bytesPerLine > 0 && i % bytesPerLine == 0 ? '\n' : ' ';
        text += Digits[message[i] >> 4];
        text += Digits[message[i] & 0x0F];
    }
    return text;
}

std::string HexLines(const MessageList& messages, const std::vector<std::int32_t>& which) {
    std::size_t size = 0;
    for (const std::int32_t k : which) size += messages.at(k).size() * 3;
    std::string text;
    text.reserve(size);
    for (std::size_t i = 0; i < which.size(); ++i) {
        if (i > 0) text += '\n';
        text += HexText(messages.at(which[i]));
    }
    return text;
}

namespace {

bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }
bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

std::uint8_t Nibble(char c) {
    return static_cast<std::uint8_t>(c <= '9' ? c - '0' : (std::toupper(static_cast<unsigned char>(c)) - 'A' + 10));
}

bool AllHex(std::string_view digits) {
    for (const char c : digits) {
        if (!IsHexDigit(c)) return false;
    }
    return !digits.empty();
}

// The bytes a word stands for; nothing when it is not bytes.
std::optional<std::vector<std::uint8_t>> WordBytes(std::string_view word) {
    std::string_view digits = word;
    bool single = false;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
        single = true;
    } else if (digits.size() > 1 && (digits.back() == 'h' || digits.back() == 'H')) {
        digits.remove_suffix(1);
        single = true;
    }
    if (!AllHex(digits)) return std::nullopt;
    if (digits.size() == 1) return std::vector<std::uint8_t>{Nibble(digits[0])};
    if (digits.size() % 2 != 0 || (single && digits.size() != 2)) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(Nibble(digits[i]) << 4 | Nibble(digits[i + 1])));
    }
    return bytes;
}

// Calls `word(text, line, bytes or nothing)` for each word, stopping when it returns false.
template <typename Word>
void ForEachWord(std::string_view text, Word word) {
    std::size_t line = 1;
    std::size_t at = 0;
    while (at < text.size()) {
        if (!IsWordChar(text[at])) {
            if (text[at] == '\n') ++line;
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && IsWordChar(text[end])) ++end;
        const std::string_view w = text.substr(at, end - at);
        if (!word(w, line, WordBytes(w))) return;
        at = end;
    }
}

std::string NotAByteText(std::string_view word) {
    return "「" + std::string(word.substr(0, 40)) + (word.size() > 40 ? "…" : "") + "」は 16 進のバイトではありません";
}

}  // namespace

PastedMessages PastedMessagesFromText(std::string_view text) {
    PastedMessages pasted;
    std::vector<std::uint8_t> open;
    bool inMessage = false;
    bool anyF0 = false;
    ForEachWord(text, [&](std::string_view word, std::size_t line, const std::optional<std::vector<std::uint8_t>>& bytes) {
        if (!bytes) {
            if (!inMessage) return true;
            pasted.problem = "クリップボードのテキストは貼り付けられません: " + std::to_string(line) + " 行目の" +
                             NotAByteText(word);
            return false;
        }
        for (const std::uint8_t b : *bytes) {
            if (!inMessage) {
                if (b != 0xF0) continue;
                inMessage = anyF0 = true;
                open.assign(1, b);
                continue;
            }
            open.push_back(b);
            if (b == 0xF7) {
                pasted.messages.Add(open);
                inMessage = false;
            }
        }
        return true;
    });
    if (!pasted.problem.empty()) {
        pasted.messages = PackedMessages();
        return pasted;
    }
    if (inMessage) pasted.unterminated = 1;
    if (pasted.messages.Count() == 0) {
        pasted.problem = anyF0 ? "クリップボードのテキストのメッセージは F7 で終わっていないため、貼り付けられません"
                               : "クリップボードのテキストには F0 で始まり F7 で終わるメッセージがありません";
    }
    return pasted;
}

std::string PastedNotice(const PastedMessages& pasted) {
    return pasted.unterminated > 0 ? "最後のメッセージは F7 で終わっていないため、貼り付けませんでした" : std::string();
}

EditedMessage OneMessageFromText(std::string_view text) {
    EditedMessage edited;
    ForEachWord(text, [&](std::string_view word, std::size_t, const std::optional<std::vector<std::uint8_t>>& bytes) {
        if (!bytes) {
            edited.problem = NotAByteText(word);
            return false;
        }
        edited.bytes.insert(edited.bytes.end(), bytes->begin(), bytes->end());
        return true;
    });
    if (!edited.problem.empty()) return edited;
    const auto& b = edited.bytes;
    if (b.empty()) {
        edited.problem = "16 進のバイトがありません";
    } else if (b.front() != 0xF0) {
        edited.problem = "メッセージは F0 で始めてください (最初のバイトが " + HexByte(b.front()) + "H です)";
    } else if (b.size() < 2 || b.back() != 0xF7) {
        edited.problem = "メッセージは F7 で終えてください";
    } else if (std::find(b.begin(), b.end() - 1, 0xF7) != b.end() - 1) {
        edited.problem = "F7 はメッセージの最後に 1 つだけ置いてください (ここで編集できるのは 1 メッセージです)";
    }
    return edited;
}

}  // namespace sysex
