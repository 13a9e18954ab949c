#pragma once
// Decoding the header of a stored message for display. Positions are fixed: byte 1 is the
// manufacturer, 2 the device channel (low four bits), 3 the model, 4 the function. They are read
// whatever the message's length, so a short message shows what its slot holds beyond its F7.

#include <array>
#include <cstdint>
#include <string>

namespace sysex {

// "Roland", "KORG", "YAMAHA", or "Unknown(XXH)".
std::string VendorName(std::uint8_t vendor);

// A model name for the four models known of manufacturer 42 hex, or "Unknown(XXH)".
std::string ModelName(std::uint8_t vendor, std::uint8_t model);

// Two upper-case hexadecimal digits, zero-padded.
std::string HexByte(std::uint8_t value);

// The four lines of the information pane, from a slot's first five bytes.
std::array<std::string, 4> InfoLines(const std::uint8_t* slot);

// The same for stored message `index` of the store.
std::array<std::string, 4> InfoLines(int index);

}  // namespace sysex
