#include "settings/RegText.h"

#include <algorithm>

#include "common/Utf8.h"

namespace settings {

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view Utf16LeBom = "\xFF\xFE";
constexpr std::string_view Spaces = " \t";
// regedit keeps wrapped hex lines within 80 characters, the "\" included.
constexpr std::size_t WrapColumn = 77;

std::string_view TrimLeft(std::string_view text) {
    const auto at = text.find_first_not_of(Spaces);
    return at == std::string_view::npos ? std::string_view{} : text.substr(at);
}

std::string_view TrimRight(std::string_view text) {
    const auto at = text.find_last_not_of(Spaces);
    return at == std::string_view::npos ? std::string_view{} : text.substr(0, at + 1);
}

char FoldCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldCase(x) == FoldCase(y); });
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 1 to maxDigits hexadecimal digits, the whole text.
std::optional<std::uint32_t> ParseHexNumber(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    std::uint32_t number = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) return std::nullopt;
        number = number * 16 + static_cast<std::uint32_t>(digit);
    }
    return number;
}

std::string HexText(std::uint32_t number, int minDigits) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), Digits[number % 16]);
        number /= 16;
    } while (number != 0);
    if (static_cast<int>(text.size()) < minDigits) text.insert(0, static_cast<std::size_t>(minDigits) - text.size(), '0');
    return text;
}

// A quoted string at the start of `text` ("..." with \\ and \" escapes). Returns the unescaped
// bytes and leaves `text` after the closing quote.
std::optional<std::string> TakeQuoted(std::string_view& text) {
    if (text.empty() || text.front() != '"') return std::nullopt;
    std::string bytes;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            text.remove_prefix(i + 1);
            return bytes;
        }
        if (c == '\\') {
            if (i + 1 == text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) return std::nullopt;
            ++i;
        }
        bytes.push_back(text[i]);
    }
    return std::nullopt;
}

std::string Quoted(std::string_view bytes) {
    std::string text = "\"";
    for (char c : bytes) {
        if (c == '\\' || c == '"') text.push_back('\\');
        text.push_back(c);
    }
    text.push_back('"');
    return text;
}

std::optional<std::vector<std::uint8_t>> ParseHexList(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    text = TrimRight(TrimLeft(text));
    if (text.empty()) return bytes;
    while (true) {
        const auto comma = text.find(',');
        const auto item = TrimRight(TrimLeft(text.substr(0, comma)));
        const auto byte = ParseHexNumber(item, 2);
        if (!byte) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(*byte));
        if (comma == std::string_view::npos) return bytes;
        text.remove_prefix(comma + 1);
    }
}

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
        return;
    }
    static constexpr std::uint32_t LeadMarks[] = {0, 0xC0, 0xE0, 0xF0};
    const int tail = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    out.push_back(static_cast<char>(LeadMarks[tail] | (code >> (6 * tail))));
    for (int k = tail - 1; k >= 0; --k) out.push_back(static_cast<char>(0x80 | ((code >> (6 * k)) & 0x3F)));
}

void AppendUtf16Le(std::string& out, std::uint32_t code) {
    const auto unit = [&out](std::uint32_t u) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    };
    if (code < 0x10000) return unit(code);
    unit(0xD800 + ((code - 0x10000) >> 10));
    unit(0xDC00 + ((code - 0x10000) & 0x3FF));
}

// Nothing for an odd number of bytes or an unpaired surrogate: such text cannot be written back
// as it was read.
std::optional<std::string> Utf8FromUtf16Le(std::string_view bytes) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    const auto unitAt = [bytes](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]) |
                                          static_cast<unsigned char>(bytes[i + 1]) << 8);
    };
    std::string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        std::uint32_t code = unitAt(i);
        if (code >= 0xDC00 && code <= 0xDFFF) return std::nullopt;
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (i + 4 > bytes.size()) return std::nullopt;
            const std::uint32_t low = unitAt(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        AppendUtf8(text, code);
    }
    return text;
}

std::string Utf16LeFromUtf8(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
        const kelvane::Utf8Char c = kelvane::DecodeUtf8(text, i);
        length = c.length == 0 ? 1 : c.length;
        AppendUtf16Le(bytes, c.length == 0 ? 0xFFFD : static_cast<std::uint32_t>(c.code));
    }
    return bytes;
}

// A REG_SZ may be written as "text" only when reading that text back gives the same bytes.
bool FitsQuotedString(const std::vector<std::uint8_t>& data) {
    if (data.empty() || data.back() != 0) return false;
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size() - 1);
    const bool hasControl = std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
    return !hasControl && kelvane::IsValidUtf8(text);
}

std::optional<RegValue> ParseValue(std::string_view text) {
    RegValue value;
    if (text.front() == '@') {
        text.remove_prefix(1);
    } else {
        auto name = TakeQuoted(text);
        if (!name) return std::nullopt;
        value.name = std::move(*name);
    }
    text = TrimLeft(text);
    if (text.empty() || text.front() != '=') return std::nullopt;
    text = TrimRight(TrimLeft(text.substr(1)));

    if (!text.empty() && text.front() == '"') {
        auto string = TakeQuoted(text);
        if (!string || !text.empty()) return std::nullopt;
        value.type = RegSz;
        value.data.assign(string->begin(), string->end());
        value.data.push_back(0);
        return value;
    }
    if (text.starts_with("dword:")) {
        const auto number = ParseHexNumber(text.substr(6), 8);
        if (!number) return std::nullopt;
        value.type = RegDword;
        for (int shift = 0; shift < 32; shift += 8) value.data.push_back(static_cast<std::uint8_t>(*number >> shift));
        return value;
    }
    std::string_view list;
    if (text.starts_with("hex:")) {
        value.type = RegBinary;
        list = text.substr(4);
    } else if (text.starts_with("hex(")) {
        const auto close = text.find("):");
        if (close == std::string_view::npos) return std::nullopt;
        const auto type = ParseHexNumber(text.substr(4, close - 4), 8);
        if (!type) return std::nullopt;
        value.type = *type;
        list = text.substr(close + 2);
    } else {
        return std::nullopt;
    }
    auto bytes = ParseHexList(list);
    if (!bytes) return std::nullopt;
    value.data = std::move(*bytes);
    return value;
}

// The name of a value line whose data cannot be read; nothing when even the name cannot.
std::optional<std::string> ValueLineName(std::string_view text) {
    if (text.front() == '@') return std::string();
    return TakeQuoted(text);
}

// A "\" at the end of a value line joins the next physical line to it, in place of the "\".
void JoinContinuation(std::string& joined, std::string_view next) {
    joined.pop_back();
    joined += TrimRight(TrimLeft(next));
}

// A value line cut short by the end of the file still ends in "\" once joined, and so would
// swallow whatever is written after it; with several "\" it is still open after a blank line.
// A comment line ends it and leaves it what it was: unreadable, of its name.
void EndOpenContinuation(std::vector<RegLine>& lines) {
    if (lines.empty() || lines.back().kind == RegLine::Kind::Section) return;
    auto& physical = lines.back().physical;
    std::string joined(TrimRight(TrimLeft(physical.front())));
    if (joined.empty() || joined.front() == ';') return;
    for (std::size_t i = 1; i < physical.size() && joined.ends_with('\\'); ++i) JoinContinuation(joined, physical[i]);
    if (joined.ends_with('\\')) physical.emplace_back(";");
}

bool IsBlank(const RegLine& line) {
    return line.kind == RegLine::Kind::Other && line.physical.size() == 1 && TrimLeft(line.physical[0]).empty();
}

}  // namespace

bool IsStorableName(std::string_view name) { return name.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos; }

namespace {

std::optional<RegDocument> ParseUtf8RegText(std::string_view text) {
    RegDocument document;
    if (text.starts_with(Utf8Bom)) {
        document.byteOrderMark = true;
        text.remove_prefix(Utf8Bom.size());
    }
    std::vector<std::string_view> physical;
    while (!text.empty()) {
        const auto end = text.find('\n');
        auto line = text.substr(0, end);
        // Every CR before the LF: one left behind would be read as part of the line now, and
        // dropped once the line is written back with its line end.
        if (line.ends_with('\r') && physical.empty()) document.newline = "\r\n";
        while (line.ends_with('\r')) line.remove_suffix(1);
        physical.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    if (physical.empty()) return std::nullopt;
    const auto header = TrimRight(physical[0]);
    if (header != "Windows Registry Editor Version 5.00" && header != "REGEDIT4") return std::nullopt;
    document.header = std::string(physical[0]);

    bool inSection = false;
    for (std::size_t i = 1; i < physical.size(); ++i) {
        RegLine line;
        line.physical.emplace_back(physical[i]);
        const auto content = TrimRight(TrimLeft(physical[i]));
        if (content.empty() || content.front() == ';') {
            line.kind = RegLine::Kind::Other;
        } else if (content.front() == '[') {
            if (!content.ends_with(']') || content.size() < 3 || content[1] == '-') return std::nullopt;
            line.kind = RegLine::Kind::Section;
            line.keyPath = std::string(content.substr(1, content.size() - 2));
            inSection = true;
        } else if (content.front() == '"' || content.front() == '@') {
            if (!inSection) return std::nullopt;
            std::string joined(content);
            bool cutShort = false;
            // Only hex data wraps: quoted text always ends in '"' and dword data in a digit.
            while (joined.ends_with('\\')) {
                cutShort = i + 1 == physical.size();
                if (cutShort) break;
                JoinContinuation(joined, physical[++i]);
                line.physical.emplace_back(physical[i]);
            }
            if (auto value = cutShort ? std::nullopt : ParseValue(joined)) {
                line.kind = RegLine::Kind::Value;
                line.value = std::move(*value);
            } else if (auto name = ValueLineName(joined)) {
                line.kind = RegLine::Kind::Unreadable;
                line.value.name = std::move(*name);
            }
        } else {
            return std::nullopt;
        }
        document.lines.push_back(std::move(line));
    }
    return document;
}

}  // namespace

std::optional<RegDocument> ParseRegText(std::string_view text) {
    if (!text.starts_with(Utf16LeBom)) return ParseUtf8RegText(text);
    const auto decoded = Utf8FromUtf16Le(text.substr(Utf16LeBom.size()));
    if (!decoded) return std::nullopt;
    auto document = ParseUtf8RegText(*decoded);
    if (document) {
        document->encoding = RegEncoding::Utf16Le;
        document->byteOrderMark = true;
    }
    return document;
}

std::string FormatRegText(const RegDocument& document) {
    const bool utf16 = document.encoding == RegEncoding::Utf16Le;
    std::string text;
    if (document.byteOrderMark && !utf16) text += Utf8Bom;
    text += document.header + document.newline;
    for (const auto& line : document.lines)
        for (const auto& physical : line.physical) text += physical + document.newline;
    if (!utf16) return text;
    return std::string(Utf16LeBom) + Utf16LeFromUtf8(text);
}

std::vector<std::string> FormatValueLines(const RegValue& value) {
    std::string first = value.name.empty() ? "@=" : Quoted(value.name) + "=";
    const auto& data = value.data;
    if (value.type == RegSz && FitsQuotedString(data)) {
        first += Quoted(std::string_view(reinterpret_cast<const char*>(data.data()), data.size() - 1));
        return {first};
    }
    if (value.type == RegDword && data.size() == 4) {
        const std::uint32_t number = data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24;
        return {first + "dword:" + HexText(number, 8)};
    }
    first += value.type == RegBinary ? "hex:" : "hex(" + HexText(value.type, 1) + "):";
    std::vector<std::string> lines{first};
    for (std::size_t i = 0; i < data.size(); ++i) {
        auto& line = lines.back();
        line += HexText(data[i], 2);
        if (i + 1 == data.size()) break;
        line += ',';
        if (line.size() >= WrapColumn) {
            line += '\\';
            lines.emplace_back("  ");
        }
    }
    return lines;
}

const RegValue* FindValue(const RegDocument& document, std::string_view keyPath, std::string_view name) {
    const RegValue* found = nullptr;
    bool inKey = false;
    for (const auto& line : document.lines) {
        if (line.kind == RegLine::Kind::Section) inKey = SameName(line.keyPath, keyPath);
        if (line.kind == RegLine::Kind::Value && inKey && SameName(line.value.name, name)) found = &line.value;
        if (line.kind == RegLine::Kind::Unreadable && inKey && SameName(line.value.name, name)) found = nullptr;
    }
    return found;
}

void PutValue(RegDocument& document, std::string_view keyPath, const RegValue& value) {
    RegLine formatted;
    formatted.kind = RegLine::Kind::Value;
    formatted.physical = FormatValueLines(value);
    formatted.value = value;

    auto& lines = document.lines;
    bool inKey = false;
    bool placed = false;
    std::optional<std::size_t> insertAt;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == RegLine::Kind::Section) {
            inKey = SameName(lines[i].keyPath, keyPath);
            if (inKey) insertAt = i + 1;
        } else if ((lines[i].kind == RegLine::Kind::Value || lines[i].kind == RegLine::Kind::Unreadable) && inKey) {
            if (!SameName(lines[i].value.name, value.name)) {
                insertAt = i + 1;
            } else if (!placed) {
                lines[i] = formatted;
                placed = true;
            } else {
                lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i--));
            }
        }
    }
    if (placed) return;
    if (!insertAt || *insertAt == lines.size()) EndOpenContinuation(lines);
    if (insertAt) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*insertAt), std::move(formatted));
        return;
    }
    if (lines.empty() || !IsBlank(lines.back())) lines.push_back(RegLine{RegLine::Kind::Other, {""}, {}, {}});
    std::string header;  // built in steps: GCC 12 misreads "[" + key + "]" as an overlapping copy
    header.reserve(keyPath.size() + 2);
    header += '[';
    header += keyPath;
    header += ']';
    lines.push_back(RegLine{RegLine::Kind::Section, {std::move(header)}, std::string(keyPath), {}});
    lines.push_back(std::move(formatted));
}

}  // namespace settings
