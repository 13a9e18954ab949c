// libFuzzer target for the dump scanner: any bytes, fed whole and in pieces of a size the input
// chooses, must give the same store, and every stored slot must keep the store's invariants.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckInvariants(const sysex::ScanResult& result) {
    Check(sysex::SysExCount >= 0 && sysex::SysExCount <= sysex::MaxSysEx);
    Check(result.stored == sysex::SysExCount);
    for (int k = 0; k < sysex::SysExCount; ++k) {
        const std::uint8_t* slot = sysex::SysExData[k];
        const std::size_t length = sysex::SysExLen[k];
        Check(length >= 1);
        Check(slot[0] == 0xF0);
        Check(slot[length] == 0xF7);
        Check(std::memchr(slot + 1, 0xF7, length - 1) == nullptr);
    }
}

void ScanBothWays(const std::uint8_t* data, std::size_t size);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Inputs starting with FF are stretched: the rest repeated past 70,000 bytes, so that
    // messages longer than a slot and a full store are reached without huge corpus files.
    if (size >= 2 && data[0] == 0xFF) {
        std::vector<std::uint8_t> stretched;
        while (stretched.size() < 70000 + size) stretched.insert(stretched.end(), data + 1, data + size);
        ScanBothWays(stretched.data(), stretched.size());
    } else {
        ScanBothWays(data, size);
    }
    return 0;
}

namespace {

void ScanBothWays(const std::uint8_t* data, std::size_t size) {
    const sysex::ScanResult whole = sysex::ScanDump(data, size);
    CheckInvariants(whole);
    std::vector<std::uint16_t> lengths(sysex::SysExLen, sysex::SysExLen + sysex::SysExCount);

    // The same bytes in pieces must store exactly the same messages.
    const std::size_t piece = size == 0 ? 1 : 1 + data[0] % 61;
    sysex::DumpScanner scanner;
    for (std::size_t pos = 0; pos < size; pos += piece) {
        if (!scanner.Feed(data + pos, std::min(piece, size - pos))) break;
    }
    const sysex::ScanResult pieces = scanner.Finish();
    sysex::SysExCount = pieces.stored;
    CheckInvariants(pieces);
    Check(pieces.stored == whole.stored);
    Check(pieces.droppedTooLong == whole.droppedTooLong);
    Check(pieces.droppedUnterminated == whole.droppedUnterminated);
    Check(pieces.stoppedAtLimit == whole.stoppedAtLimit);
    Check(std::equal(lengths.begin(), lengths.end(), sysex::SysExLen));

    // Received under the wire rules, a stored message holds no status byte but its F0 and F7.
    sysex::DumpScanner wire(sysex::ScanRules::Wire);
    for (std::size_t pos = 0; pos < size; pos += piece) {
        if (!wire.Feed(data + pos, std::min(piece, size - pos))) break;
    }
    const sysex::ScanResult received = wire.Finish();
    sysex::SysExCount = received.stored;
    CheckInvariants(received);
    Check(!received.droppedUnterminated);
    for (int k = 0; k < sysex::SysExCount; ++k) {
        for (std::size_t i = 1; i < sysex::SysExLen[k]; ++i) Check(sysex::SysExData[k][i] < 0x80);
    }
}

}  // namespace
