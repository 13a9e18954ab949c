#include "cli/JsonText.h"

#include <cstdint>

namespace cli {

namespace {

constexpr std::string_view ReplacementCharacter = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence starting at `at`, or 0 when it is not one
// (overlong forms, surrogates and code points above U+10FFFF are not well-formed).
std::size_t SequenceLength(std::string_view text, std::size_t at) {
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    std::size_t length = 0;
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
        return 0;
    }
    if (at + length > text.size()) return 0;
    // Only the second byte has a narrowed range; the others are plain continuation bytes.
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    }
    return length;
}

}  // namespace

std::string JsonString(std::string_view text) {
    static constexpr char Hex[] = "0123456789abcdef";
    std::string json;
    json.reserve(text.size() + 2);
    json += '"';
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<std::uint8_t>(text[at]);
        if (c >= 0x80) {
            const std::size_t length = SequenceLength(text, at);
            if (length == 0) {
                json += ReplacementCharacter;
                ++at;
            } else {
                json.append(text, at, length);
                at += length;
            }
            continue;
        }
        switch (c) {
            case '"': json += "\\\""; break;
            case '\\': json += "\\\\"; break;
            case '\b': json += "\\b"; break;
            case '\f': json += "\\f"; break;
            case '\n': json += "\\n"; break;
            case '\r': json += "\\r"; break;
            case '\t': json += "\\t"; break;
            default:
                if (c < 0x20) {
                    json += "\\u00";
                    json += Hex[c >> 4];
                    json += Hex[c & 0x0F];
                } else {
                    json += static_cast<char>(c);
                }
        }
        ++at;
    }
    json += '"';
    return json;
}

}  // namespace cli
