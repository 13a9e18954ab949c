#pragma once
// What a message says, in a few words, where the MIDI standard or the table of named requests
// knows its form: "GM System On", "Master Volume 16383", "Identity Reply: Roland Corporation
// (41), family 322, member 0, version 01 02 03 04", "Roland RQ1 40 00 00, 7F bytes". Pure; any thread.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace sysex {

// Nothing when the message (F0 through F7) is none of the forms known.
std::optional<std::string> MessageMeaning(std::span<const std::uint8_t> message);

}  // namespace sysex
