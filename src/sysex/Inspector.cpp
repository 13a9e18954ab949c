#include "sysex/Inspector.h"

#include <algorithm>

#include "sysex/Store.h"

namespace sysex {

std::string HexByte(std::uint8_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[value >> 4], kDigits[value & 0x0F]};
}

namespace {
std::string Unknown(std::uint8_t value) { return "Unknown(" + HexByte(value) + "H)"; }
}  // namespace

std::string VendorName(std::uint8_t vendor) {
    switch (vendor) {
        case 0x41: return "Roland";
        case 0x42: return "KORG";
        case 0x43: return "YAMAHA";
        default: return Unknown(vendor);
    }
}

std::string ModelName(std::uint8_t vendor, std::uint8_t model) {
    if (vendor == 0x42) {
        switch (model) {
            case 0x28: return "Wave Station";
            case 0x36: return "X5(05R/W)";
            case 0x42: return "NS5R(NX5R)";
            case 0x4C: return "N1(N5)";
            default: break;
        }
    }
    return Unknown(model);
}

std::array<std::string, 4> InfoLines(const std::uint8_t* slot) {
    return {
        "Vendor:" + VendorName(slot[1]),
        "Machine:" + ModelName(slot[1], slot[3]),
        "SysExCH:" + HexByte(static_cast<std::uint8_t>(slot[2] & 0x0F)),
        "Function:" + HexByte(slot[4]) + "H",
    };
}

std::array<std::string, 4> InfoLines(int index) {
    // The pane reads bytes 1 to 4 whatever the message's length: in a slot, what the slot holds
    // there (as it always has); beyond the block, a message shorter than that shows zeros.
    if (index < MaxSysEx && SysExLen[index] != 0) return InfoLines(SysExData[index]);
    const MessageBytes message = MessageAt(index);
    std::uint8_t head[5] = {};
    std::copy_n(message.data(), std::min(message.size(), sizeof head), head);
    return InfoLines(head);
}

}  // namespace sysex
