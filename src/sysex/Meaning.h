#pragma once
// What a message says, in a few words, where the MIDI standard or the table of named requests
// knows its form: "GM System On", "Master Volume 16383", "Identity Reply: Roland Corporation
// (41H), family 42H 02H (322), member 00H 00H (0), version 01H 02H 03H 04H", "Roland RQ1 address
// 40H 00H 00H, size 00H 00H 7FH (127 bytes)". Hexadecimal always carries its H, and channels
// are counted 1-16 as musicians count them. Pure; any thread.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace sysex {

// Nothing when the message (F0 through F7) is none of the forms known.
std::optional<std::string> MessageMeaning(std::span<const std::uint8_t> message);

}  // namespace sysex
