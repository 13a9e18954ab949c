#include "sysex/NumberText.h"

#include <algorithm>

namespace sysex {

namespace {

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool MarkedHex(std::string_view text) {
    return (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) ||
           (text.size() > 1 && (text.back() == 'H' || text.back() == 'h'));
}

std::string_view Unmarked(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return text.substr(2);
    if (text.size() > 1 && (text.back() == 'H' || text.back() == 'h')) return text.substr(0, text.size() - 1);
    return text;
}

}  // namespace

std::optional<std::string_view> HexDigitsOf(std::string_view text) {
    const std::string_view digits = Unmarked(text);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return DigitValue(c) >= 0; })) {
        return std::nullopt;
    }
    return digits;
}

std::optional<std::uint32_t> ReadNumberText(std::string_view text, Numbering bare) {
    const unsigned base = MarkedHex(text) || bare == Numbering::Hex ? 16 : 10;
    const std::string_view digits = Unmarked(text);
    if (digits.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : digits) {
        const int digit = DigitValue(c);
        if (digit < 0 || static_cast<unsigned>(digit) >= base) return std::nullopt;
        value = value * base + static_cast<unsigned>(digit);
        if (value > UINT32_MAX) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace sysex
