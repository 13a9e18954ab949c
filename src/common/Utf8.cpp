#include "common/Utf8.h"

#include <cstdint>

namespace kelvane {

namespace {

// What a byte that starts a character of more than one byte says about the rest: the length,
// and the range of the second byte, which is what rules out overlong forms, surrogates and code
// points above U+10FFFF. Length 0 for a byte that starts no such character.
struct LeadByte {
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
};

LeadByte ReadLead(std::uint8_t lead) {
    LeadByte l;
    if (lead >= 0xC2 && lead <= 0xDF) {
        l.length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        l.length = 3;
        if (lead == 0xE0) l.low = 0xA0;
        if (lead == 0xED) l.high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        l.length = 4;
        if (lead == 0xF0) l.low = 0x90;
        if (lead == 0xF4) l.high = 0x8F;
    }
    return l;
}

}  // namespace

Utf8Char DecodeUtf8(std::string_view text, std::size_t at) {
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    if (lead < 0x80) return {lead, 1};
    const auto [length, low, high] = ReadLead(lead);
    if (length == 0) return {};
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

std::size_t Utf8CutShortAtEnd(std::string_view text) {
    // Back over the continuation bytes at the end, at most three, to the byte that starts them.
    for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        const std::size_t at = text.size() - back;
        const auto byte = static_cast<std::uint8_t>(text[at]);
        if ((byte & 0xC0) == 0x80) continue;
        const LeadByte lead = ReadLead(byte);
        if (lead.length <= back) return 0;
        if (back >= 2) {
            const auto second = static_cast<std::uint8_t>(text[at + 1]);
            if (second < lead.low || second > lead.high) return 0;
        }
        return back;
    }
    return 0;
}

}  // namespace kelvane
