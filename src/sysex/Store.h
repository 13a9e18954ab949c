#pragma once
// The message store: the SysEx messages of the dump file loaded last.
//
// Slot k holds message k as F0, its data bytes and F7 at index SysExLen[k] (the stored length
// counts the F0 but not the F7, so a message occupies SysExLen[k] + 1 bytes). Slots at or beyond
// SysExCount keep whatever an earlier load left there and are never read as messages.
// Only the loader writes the store; everybody else reads it in place. GUI thread only.

#include <cstddef>
#include <cstdint>

namespace sysex {

inline constexpr int MaxSysEx = 1000;
inline constexpr std::size_t SlotSize = 65536;
// The longest stored length a slot can take: 65,535 bytes before the F7, 65,536 with it.
inline constexpr std::size_t MaxStoredLength = SlotSize - 1;

extern std::uint8_t SysExData[MaxSysEx][SlotSize];
extern std::uint16_t SysExLen[MaxSysEx];
extern std::int32_t SysExCount;

// Zeroes the whole store as at process start. For tests only.
void ResetStoreForTests();

}  // namespace sysex
