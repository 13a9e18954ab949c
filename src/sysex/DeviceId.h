#pragma once
// Addressing a dump to another unit: the device number of every message whose form has one is
// set to a new value. Pure functions, any thread.
//
//   Roland       F0 41 dev ...        dev 00H-1FH (a byte above 1FH there is no device number)
//   Yamaha       F0 43 gn ...         n in the 0n, 1n, 2n and 3n forms: 0-15
//   KORG         F0 42 3n ...         n: 0-15
//   Universal    F0 7E|7F dev ...     dev 00H-7FH; 7FH (every device) stays as it is
// Other makers' messages are left alone. Roland's and Yamaha's checksums do not cover the
// device byte; the universal Sample Dump Data Packet, File Dump Data Packet and MIDI Tuning
// Bulk Dump carry an XOR of everything from 7E on, which is updated with it (DeviceId.cpp
// lists these forms with the documents that give them).

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sysex {

// The largest device number the message's form holds; -1 when it has none (or it is the
// broadcast 7FH, which stays).
int DeviceIdLimit(std::span<const std::uint8_t> message);

// Sets the device number (if the form has one) and keeps a checksum that covers it as right
// (or as wrong) as it was. The caller has checked the number against DeviceIdLimit. Returns
// whether the message changed.
bool SetDeviceId(std::vector<std::uint8_t>& message, std::uint8_t deviceId);

// Why `deviceId` cannot go into these messages: names the first one that cannot hold it by its
// list number (`numbers[i]` for messages[i], counted from 0 as the store counts), and its
// limit. Empty when every message can take it.
std::string DeviceIdProblem(const std::vector<std::vector<std::uint8_t>>& messages, const std::vector<int>& numbers,
                            std::uint32_t deviceId);

}  // namespace sysex
