#include "smf/DumpWriter.h"

#include <stdexcept>
#include <vector>

namespace smf {

void WriteDump(kelvane::OutputFile& file, int count, const std::uint16_t* lengths, const Slot* slots) {
    if (count < 0 || count > sysex::MaxSysEx) throw std::invalid_argument("message count outside the store");
    // Messages gathered into pieces as the SMF writer does: few system calls, no copy of the store.
    std::vector<std::uint8_t> piece;
    piece.reserve(WriteChunkBytes);
    for (int k = 0; k < count; ++k) {
        const std::size_t size = std::size_t{lengths[k]} + 1;
        if (piece.size() + size > WriteChunkBytes) {
            file.Write(piece.data(), piece.size());
            piece.clear();
        }
        piece.insert(piece.end(), slots[k], slots[k] + size);
    }
    if (!piece.empty()) file.Write(piece.data(), piece.size());
}

void ExportStoreAsDump(const std::string& pathUtf8, kelvane::SpecialTargets special) {
    if (sysex::SysExCount < 0 || sysex::SysExCount > sysex::MaxSysEx) {
        throw std::invalid_argument("message count outside the store");
    }
    kelvane::OutputFile file(pathUtf8, special);
    WriteDump(file, sysex::SysExCount, sysex::SysExLen, sysex::SysExData);
    file.Close();
}

}  // namespace smf
