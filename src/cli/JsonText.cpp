#include "cli/JsonText.h"

#include <cstdint>

#include "common/Utf8.h"

namespace cli {

namespace {

constexpr std::string_view ReplacementCharacter = "\xEF\xBF\xBD";

}  // namespace

std::string JsonString(std::string_view text) {
    static constexpr char Hex[] = "0123456789abcdef";
    std::string json;
    json.reserve(text.size() + 2);
    json += '"';
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<std::uint8_t>(text[at]);
        if (c >= 0x80) {
            const std::size_t length = kelvane::DecodeUtf8(text, at).length;
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
