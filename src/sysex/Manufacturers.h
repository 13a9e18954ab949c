#pragma once
// Names of MIDI manufacturers by their System Exclusive ID, as the MIDI Association lists them:
// one-byte IDs and three-byte IDs written 00 xx xx (besides, the special IDs 7DH-7FH). One data
// table, each ID once.
// Pure; any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace sysex {

struct ManufacturerEntry {
    std::uint32_t id;  // a one-byte ID as it is; a three-byte ID 00 xx yy as xxyy
    bool threeBytes;
    std::string_view name;
};

// The whole table of makers (the special IDs aside), sorted by (threeBytes, id).
std::span<const ManufacturerEntry> ManufacturerTable();

// The maker of a message (from its F0 through its F7): byte 1, or bytes 1-3 when byte 1 is 00.
// Empty when the ID is not in the table or the message is too short to hold one.
std::optional<std::string_view> ManufacturerName(const std::uint8_t* message, std::size_t size);

}  // namespace sysex
