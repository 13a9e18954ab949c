#pragma once
// How a number typed by a person is read, the same everywhere (the command line, the dialogs):
// a value that ends in "H" or begins with "0x" is hexadecimal; a bare value is read in the base
// the number's own document writes it in, which the caller says. Pure; any thread.

#include <cstdint>
#include <optional>
#include <string_view>

namespace sysex {

enum class Numbering {
    Hex,      // as the makers write addresses, sizes, IDs: "10" is 10H
    Decimal,  // as a manual counts patches and channels: "10" is ten
};

// The number `text` stands for, or nothing when it is none (no digits, a digit of another
// base, a sign, more than 32 bits).
std::optional<std::uint32_t> ReadNumberText(std::string_view text, Numbering bare);

// The digits of a hexadecimal value without its "H" or "0x"; nothing when `text` is marked as
// no hexadecimal value, or holds a character that is no hexadecimal digit.
std::optional<std::string_view> HexDigitsOf(std::string_view text);

}  // namespace sysex
