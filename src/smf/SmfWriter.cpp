#include "smf/SmfWriter.h"

#include <stdexcept>

namespace smf {

void AppendVlq(std::vector<std::uint8_t>& out, std::uint32_t value) {
    if (value > MaxVlqValue) {
        throw std::out_of_range("variable-length quantity needs more than four groups: " +
                                std::to_string(value));
    }
    int shift = 21;
    while (shift > 0 && (value >> shift) == 0) shift -= 7;
    for (; shift > 0; shift -= 7) {
        out.push_back(static_cast<std::uint8_t>(0x80 | ((value >> shift) & 0x7F)));
    }
    out.push_back(static_cast<std::uint8_t>(value & 0x7F));
}

std::vector<std::uint8_t> EncodeVlq(std::uint32_t value) {
    std::vector<std::uint8_t> bytes;
    AppendVlq(bytes, value);
    return bytes;
}

std::size_t EventSize(std::uint16_t storedLength) {
    const std::size_t vlqBytes = storedLength < 0x80 ? 1 : storedLength < 0x4000 ? 2 : 3;
    return 2 + vlqBytes + storedLength;
}

std::uint32_t TrackBodySize(int count, const std::uint16_t* lengths) {
    if (count < 0 || count > sysex::MaxSysEx) {
        throw std::invalid_argument("message count outside the store: " + std::to_string(count));
    }
    std::uint32_t size = 0;
    for (int k = 0; k < count; ++k) size += static_cast<std::uint32_t>(EventSize(lengths[k]));
    return size;
}

void AppendSysExEvent(std::vector<std::uint8_t>& body, const Slot& slot, std::uint16_t storedLength) {
    body.push_back(EventDeltaTicks);
    body.push_back(0xF0);
    AppendVlq(body, storedLength);
    body.insert(body.end(), slot + 1, slot + 1 + storedLength);
}

std::vector<std::uint8_t> BuildTrackBody(int count, const std::uint16_t* lengths, const Slot* slots) {
    std::vector<std::uint8_t> body;
    body.reserve(TrackBodySize(count, lengths));
    for (int k = 0; k < count; ++k) AppendSysExEvent(body, slots[k], lengths[k]);
    return body;
}

void WriteSmf(kelvane::OutputFile& file, int count, const std::uint16_t* lengths, const Slot* slots) {
    const std::uint32_t trackLength = TrackBodySize(count, lengths) + EndOfTrack.size();
    const std::uint8_t lengthField[4] = {
        static_cast<std::uint8_t>(trackLength >> 24), static_cast<std::uint8_t>(trackLength >> 16),
        static_cast<std::uint8_t>(trackLength >> 8), static_cast<std::uint8_t>(trackLength),
    };

    file.Write(SMFHeader.data(), SMFHeader.size());
    file.Write(lengthField, sizeof lengthField);

    // A largest event (65,540 bytes) always fits an emptied piece, so the piece never grows.
    std::vector<std::uint8_t> piece;
    piece.reserve(WriteChunkBytes);
    for (int k = 0; k < count; ++k) {
        if (piece.size() + EventSize(lengths[k]) > WriteChunkBytes) {
            file.Write(piece.data(), piece.size());
            piece.clear();
        }
        AppendSysExEvent(piece, slots[k], lengths[k]);
    }
    if (!piece.empty()) file.Write(piece.data(), piece.size());

    file.Write(EndOfTrack.data(), EndOfTrack.size());
}

void ExportStore(const std::string& pathUtf8, kelvane::SpecialTargets special) {
    // A count outside the store is refused before anything is prepared.
    TrackBodySize(sysex::SysExCount, sysex::SysExLen);
    kelvane::OutputFile file(pathUtf8, special);
    ExportStore(file);
}

void ExportStore(kelvane::OutputFile& file) {
    WriteSmf(file, sysex::SysExCount, sysex::SysExLen, sysex::SysExData);
    file.Close();
}

}  // namespace smf
