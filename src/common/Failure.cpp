#include "common/Failure.h"

namespace kelvane {

namespace {

// Code point of the last UTF-8 character, or the last byte when the tail is not valid UTF-8.
unsigned LastCodePoint(const std::string& text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t end = text.size();
    std::size_t start = end - 1;
    while (start > 0 && end - start < 4 && (bytes[start] & 0xC0) == 0x80) --start;
    const unsigned lead = bytes[start];
    const std::size_t length = end - start;
    auto expected = [&]() -> std::size_t {
        if (lead < 0x80) return 1;
        if ((lead & 0xE0) == 0xC0) return 2;
        if ((lead & 0xF0) == 0xE0) return 3;
        if ((lead & 0xF8) == 0xF0) return 4;
        return 0;
    }();
    if (expected != length) return bytes[end - 1];
    unsigned code = expected == 1 ? lead : lead & (0x7Fu >> expected);
    for (std::size_t i = start + 1; i < end; ++i) code = (code << 6) | (bytes[i] & 0x3Fu);
    return code;
}

}  // namespace

std::string FailureDisplayText(const std::string& message) {
    if (message.empty()) return message;
    if (LastCodePoint(message) > 0x2E) return message + ".";
    return message;
}

std::string FormatText(const std::string& pattern, const std::string& value) {
    const auto at = pattern.find("%s");
    if (at == std::string::npos) return pattern;
    std::string text = pattern;
    text.replace(at, 2, value);
    return text;
}

}  // namespace kelvane
