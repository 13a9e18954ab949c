#include "sysex/DeviceId.h"

#include "sysex/Inspector.h"

namespace sysex {

namespace {

bool Whole(std::span<const std::uint8_t> m) { return m.size() >= 4 && m.front() == 0xF0 && m.back() == 0xF7; }

// The universal non-real-time forms whose last byte before the F7 is an XOR of every byte
// from 7E on, the device byte included, so that a new device number changes it too.
struct XorForm {
    std::uint8_t subId1;
    int subId2;  // -1: any
    const char* name;
    const char* source;
};
constexpr XorForm kXorForms[] = {
    {0x02, -1, "Sample Dump Data Packet",
     "MIDI Sample Dump Standard, Data Packet F0 7E cc 02 kk <120 bytes> ll F7, ll the XOR of 7E, cc, 02, kk and "
     "the data (http://annex.retroarchive.org/cdrom/pier-02/043A/SDS_DOC/SMPLDP.TXT)"},
    {0x07, 0x02, "File Dump Data Packet",
     "The MIDI Manufacturers Association's detailed MIDI 1.0 standard, File Dump, Data Packet "
     "F0 7E dev 07 02 pp bytes data csum F7, csum the XOR of all bytes except the leading F0 and csum itself "
     "(as transcribed at "
     "http://www.personal.kent.edu/~sbirch/Music_Production/MP-II/MIDI/midi_file_dump_messages.htm)"},
    {0x08, 0x01, "MIDI Tuning Bulk Dump",
     "MIDI Tuning Standard, Bulk Tuning Dump F0 7E dev 08 01 tt name data chksum F7, chksum the XOR of 7E "
     "through the last data byte (http://microtonal-synthesis.com/MIDItuning.html)"},
};

bool XorCoversDevice(std::span<const std::uint8_t> m) {
    if (m[1] != 0x7E || m.size() < 7) return false;
    for (const XorForm& form : kXorForms) {
        if (m[3] == form.subId1 && (form.subId2 < 0 || m[4] == form.subId2)) return true;
    }
    return false;
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
