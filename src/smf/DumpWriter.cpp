#include "smf/DumpWriter.h"

#include <stdexcept>
#include <vector>

namespace smf {

void WriteDump(kelvane::OutputFile& file, const sysex::MessageList& messages) {
    if (messages.count < 0) throw std::invalid_argument("message count outside the store");
    // Messages gathered into pieces as the SMF writer does: few system calls, no copy of the
    // store; one larger than a piece goes out by itself.
    std::vector<std::uint8_t> piece;
    piece.reserve(WriteChunkBytes);
    for (std::int32_t k = 0; k < messages.count; ++k) {
        const sysex::MessageBytes message = messages.at(k);
        if (piece.size() + message.size() > WriteChunkBytes) {
            file.Write(piece.data(), piece.size());
            piece.clear();
        }
        if (message.size() > WriteChunkBytes) {
            file.Write(message.data(), message.size());
            continue;
        }
        piece.insert(piece.end(), message.begin(), message.end());
    }
    if (!piece.empty()) file.Write(piece.data(), piece.size());
}

void ExportStoreAsDump(const std::string& pathUtf8, kelvane::SpecialTargets special) {
    if (sysex::SysExCount < 0) throw std::invalid_argument("message count outside the store");
    kelvane::OutputFile file(pathUtf8, special);
    WriteDump(file, sysex::StoreMessages());
    file.Close();
}

}  // namespace smf
