#include "common/Failure.h"

#include "common/Utf8.h"

namespace kelvane {

std::string FailureDisplayText(const std::string& message) {
    if (message.empty()) return message;
    // A tail that is not UTF-8 is judged by its last byte.
    const char32_t last = LastCodePoint(message).value_or(static_cast<unsigned char>(message.back()));
    if (last > 0x2E) return message + ".";
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
