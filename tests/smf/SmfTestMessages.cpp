#include "SmfTestMessages.h"

#include <algorithm>

#include "smf/SmfWriter.h"
#include "sysex/Store.h"

namespace smf::test {

void FillStore(const std::vector<Bytes>& messages) {
    sysex::ResetStoreForTests();
    for (std::size_t k = 0; k < messages.size(); ++k) {
        std::copy(messages[k].begin(), messages[k].end(), sysex::SysExData[k]);
        sysex::SysExLen[k] = static_cast<std::uint16_t>(messages[k].size() - 1);
    }
    sysex::SysExCount = static_cast<std::int32_t>(messages.size());
}

Bytes ExpectedFile(const std::vector<Bytes>& messages) {
    Bytes body;
    for (const Bytes& message : messages) {
        body.push_back(0x60);
        body.push_back(0xF0);
        const Bytes length = EncodeVlq(static_cast<std::uint32_t>(message.size() - 1));
        body.insert(body.end(), length.begin(), length.end());
        body.insert(body.end(), message.begin() + 1, message.end());
    }
    const std::size_t trackLength = body.size() + 4;
    Bytes file{0x4D, 0x54, 0x68, 0x64, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00, 0x30,
               0x4D, 0x54, 0x72, 0x6B};
    for (int shift = 24; shift >= 0; shift -= 8) file.push_back(static_cast<std::uint8_t>(trackLength >> shift));
    file.insert(file.end(), body.begin(), body.end());
    file.insert(file.end(), {0x30, 0xFF, 0x2F, 0x00});
    return file;
}

}  // namespace smf::test
