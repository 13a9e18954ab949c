#include "sysex/DeviceId.h"

#include "sysex/Inspector.h"

namespace sysex {

namespace {

bool Whole(std::span<const std::uint8_t> m) { return m.size() >= 4 && m.front() == 0xF0 && m.back() == 0xF7; }

// The universal forms whose last byte before the F7 is an XOR of everything from byte 1 on.
bool XorCoversDevice(std::span<const std::uint8_t> m) {
    if (m[1] != 0x7E || m.size() < 7) return false;
    return m[3] == 0x02 || (m[3] == 0x08 && m[4] == 0x01);
}

}  // namespace

int DeviceIdLimit(std::span<const std::uint8_t> m) {
    if (!Whole(m)) return -1;
    const std::uint8_t form = m[2];
    switch (m[1]) {
        case 0x41: return form <= 0x1F ? 0x1F : -1;
        case 0x43: return form <= 0x3F ? 0x0F : -1;
        case 0x42: return (form & 0xF0) == 0x30 ? 0x0F : -1;
        case 0x7E:
        case 0x7F: return form == 0x7F ? -1 : 0x7F;
        default: return -1;
    }
}

bool SetDeviceId(std::vector<std::uint8_t>& message, std::uint8_t deviceId) {
    const int limit = DeviceIdLimit(message);
    if (limit < 0 || deviceId > limit) return false;
    const std::uint8_t before = message[2];
    const std::uint8_t after = limit == 0x0F ? static_cast<std::uint8_t>((before & 0xF0) | deviceId) : deviceId;
    if (after == before) return false;
    if ((message[1] == 0x7E || message[1] == 0x7F) && XorCoversDevice(message)) {
        message[message.size() - 2] ^= static_cast<std::uint8_t>(before ^ after);
    }
    message[2] = after;
    return true;
}

std::string DeviceIdProblem(const std::vector<std::vector<std::uint8_t>>& messages, const std::vector<int>& numbers,
                            std::uint32_t deviceId) {
    if (deviceId > 0x7F) {
        return "機器 ID は 00H-7FH (0-127) の範囲で指定してください (" + std::to_string(deviceId) + ")";
    }
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const int limit = DeviceIdLimit(messages[i]);
        if (limit >= 0 && deviceId > static_cast<std::uint32_t>(limit)) {
            std::string number = std::to_string(numbers[i] + 1);
            if (number.size() < 4) number.insert(0, 4 - number.size(), '0');
            return "メッセージ " + number + " の形式は機器 ID " + HexByte(static_cast<std::uint8_t>(deviceId)) +
                   "H を持てません (00H-" + HexByte(static_cast<std::uint8_t>(limit)) + "H)";
        }
    }
    return {};
}

}  // namespace sysex
