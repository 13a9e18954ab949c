#include "sysex/FileFix.h"

#include <cstring>
#include <span>

#include "sysex/SmfReader.h"
#include "sysex/Checksum.h"
#include "sysex/DumpFile.h"
#include "sysex/Loader.h"

namespace sysex {

namespace {

std::size_t FixRaw(std::span<std::uint8_t> bytes) {
    std::size_t fixed = 0;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const void* f0 = std::memchr(bytes.data() + pos, 0xF0, bytes.size() - pos);
        if (!f0) break;
        const auto start = static_cast<std::size_t>(static_cast<const std::uint8_t*>(f0) - bytes.data());
        const void* f7 = std::memchr(bytes.data() + start + 1, 0xF7, bytes.size() - start - 1);
        // A message without its F7 was not loaded, so it has no verdict to act on.
        if (!f7) break;
        const auto end = static_cast<std::size_t>(static_cast<const std::uint8_t*>(f7) - bytes.data()) + 1;
        if (FixChecksum(bytes.data() + start, end - start)) ++fixed;
        pos = end;
    }
    return fixed;
}

std::size_t FixSmf(std::span<std::uint8_t> bytes) {
    MemorySource source(bytes);
    const SmfContents contents = ReadSmf(source, 0xFFFFFFFE);
    std::size_t fixed = 0;
    std::vector<std::uint8_t> message;
    for (const SmfMessage& m : contents.messages) {
        if (m.kind != SmfMessageKind::Whole) continue;
        message.clear();
        for (std::size_t p = 0; p < m.pieceCount; ++p) {
            const SmfPiece& piece = contents.pieces[m.firstPiece + p];
            message.insert(message.end(), bytes.begin() + static_cast<std::ptrdiff_t>(piece.offset),
                           bytes.begin() + static_cast<std::ptrdiff_t>(piece.offset + piece.size));
        }
        const ChecksumVerdict verdict = CheckChecksum(message.data(), message.size());
        if (verdict.state != ChecksumState::Wrong) continue;
        // The checksum byte's place in the file: a message split over packets lies in pieces.
        std::size_t index = verdict.at;
        for (std::size_t p = 0; p < m.pieceCount; ++p) {
            const SmfPiece& piece = contents.pieces[m.firstPiece + p];
            if (index < piece.size) {
                bytes[piece.offset + index] = verdict.expected;
                ++fixed;
                break;
            }
            index -= piece.size;
        }
    }
    return fixed;
}

}  // namespace

FixedBytes FixChecksumsInFile(std::vector<std::uint8_t> file) {
    FixedBytes result;
    result.bytes = std::move(file);
    std::span<std::uint8_t> bytes(result.bytes);
    MemorySource whole(bytes);
    if (StartsLikeSmf(bytes)) {
        result.fixed = FixSmf(bytes);
    } else if (const std::optional<SmfWindow> data = RmidData(whole)) {
        result.fixed = FixSmf(bytes.subspan(data->offset, data->size));
    } else {
        result.fixed = FixRaw(bytes);
    }
    return result;
}

FixedBytes FixChecksumsInDumpFile(const std::string& pathUtf8) {
    DumpFile file(pathUtf8);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.Size()));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const std::size_t n = file.ReadAt(got, bytes.data() + got, bytes.size() - got);
        if (n == 0) break;
        got += n;
    }
    // The file changed size since it was opened: what it holds now is what gets fixed.
    bytes.resize(got);
    return FixChecksumsInFile(std::move(bytes));
}

}  // namespace sysex
