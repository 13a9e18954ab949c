#include "common/Utf8.h"

#include <cstdint>

namespace kelvane {

Utf8Char DecodeUtf8(std::string_view text, std::size_t at) {
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = 0;
    // The lead byte decides the length and narrows the range of the second byte, which is what
    // rules out overlong forms, surrogates and code points above U+10FFFF.
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {};
    }
    if (text.size() - at < length) return {};
    if (byte(at + 1) < low || byte(at + 1) > high) return {};
    char32_t code = lead & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return {};
        code = (code << 6) | (byte(at + i) & 0x3Fu);
    }
    return {code, length};
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = DecodeUtf8(text, at).length;
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::optional<char32_t> LastCodePoint(std::string_view text) {
    // The last character starts at most four bytes from the end; the nearest start that reaches
    // exactly to the end is it.
    for (std::size_t back = 1; back <= 4 && back <= text.size(); ++back) {
        const Utf8Char c = DecodeUtf8(text, text.size() - back);
        if (c.length == back) return c.code;
    }
    return std::nullopt;
}

}  // namespace kelvane
