#include "sysex/Store.h"

#include <cstring>

namespace sysex {

// Static on purpose: 65.5 MB allocated once, zero at start, never freed.
std::uint8_t SysExData[MaxSysEx][SlotSize];
std::uint16_t SysExLen[MaxSysEx];
std::int32_t SysExCount = 0;

void ResetStoreForTests() {
    std::memset(SysExData, 0, sizeof SysExData);
    std::memset(SysExLen, 0, sizeof SysExLen);
    SysExCount = 0;
}

}  // namespace sysex
