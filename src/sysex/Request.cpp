#include "sysex/Request.h"

#include <cctype>

#include "sysex/Inspector.h"
#include "sysex/Store.h"

namespace sysex {

std::string RequestProblem(std::span<const std::uint8_t> message) {
    if (message.empty()) return "要求を 16 進数で入力してください (例: F0 7E 7F 06 01 F7)";
    if (message.front() != 0xF0) return "要求は F0 で始まらなければなりません";
    if (message.size() < 2 || message.back() != 0xF7) return "要求は F7 で終わらなければなりません";
    for (std::size_t i = 1; i + 1 < message.size(); ++i) {
        if (message[i] >= 0x80) {
            return std::to_string(i + 1) + " バイト目の " + HexByte(message[i]) +
                   "H はデータバイト (00H-7FH) ではありません";
        }
    }
    if (message.size() > std::size_t{MaxStoredLength} + 1) {
        return "要求が長すぎます (" + std::to_string(MaxStoredLength + 1) + " バイトまで)";
    }
    return {};
}

ParsedRequest ParseRequestHex(std::string_view text) {
    ParsedRequest parsed;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::size_t at = 0;
    while (at < text.size()) {
        const char c = text[at];
        if (c == ' ' || c == ',' || c == '\t' || c == '\r' || c == '\n') {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && std::string_view(" ,\t\r\n").find(text[end]) == std::string_view::npos) ++end;
        const std::string_view token = text.substr(at, end - at);
        bool ok = token.size() == 1 || token.size() % 2 == 0;
        for (const char t : token) ok = ok && digit(t) >= 0;
        if (!ok) {
            parsed.bytes.clear();
            parsed.problem = "「" + std::string(token) + "」は 16 進数のバイトではありません";
            return parsed;
        }
        if (token.size() == 1) {
            parsed.bytes.push_back(static_cast<std::uint8_t>(digit(token[0])));
        } else {
            for (std::size_t i = 0; i < token.size(); i += 2) {
                parsed.bytes.push_back(static_cast<std::uint8_t>(digit(token[i]) * 16 + digit(token[i + 1])));
            }
        }
        at = end;
    }
    parsed.problem = RequestProblem(parsed.bytes);
    return parsed;
}

}  // namespace sysex
