// libFuzzer target for the dump loader, differential: a plain byte-by-byte model of the loader's
// rules runs beside the real scanner (fed in blocks of 1 byte to 1 MiB, as the input chooses)
// and, for every 256th input, the real file loader, and all three must agree on the count,
// every stored length and byte, and what was dropped and why.
//
// Input: byte 0 picks the block size, byte 1 whether the rest is stretched too; the rest is the
// dump.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "FuzzCheck.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The rules, one byte at a time: F0 opens a message (outside one), F7 closes it, everything
// between is data, a further F0 included. Every message is kept, however many and however long;
// one the end of the file cuts off is dropped.
struct Model {
    std::vector<Bytes> messages;  // F0 ... F7
    bool unterminated = false;
};

Model ModelLoad(const Bytes& dump) {
    Model model;
    bool inMessage = false;
    Bytes current;
    for (const std::uint8_t byte : dump) {
        if (!inMessage) {
            if (byte == 0xF0) {
                inMessage = true;
                current.assign(1, 0xF0);
            }
            continue;
        }
        current.push_back(byte);
        if (byte == 0xF7) {
            inMessage = false;
            model.messages.push_back(current);
        }
    }
    model.unterminated = inMessage;
    return model;
}

void CheckAgainstModel(const Model& model, const sysex::ScanResult& result) {
    Check(result.stored == sysex::SysExCount);
    Check(result.stored == static_cast<std::int32_t>(model.messages.size()));
    Check(result.droppedUnterminated == model.unterminated);
    Check(!result.stoppedOutOfMemory);
    for (std::size_t k = 0; k < model.messages.size(); ++k) {
        const Bytes& message = model.messages[k];
        const sysex::MessageBytes stored = sysex::MessageAt(static_cast<std::int32_t>(k));
        Check(stored.size() == message.size());
        Check(std::memcmp(stored.data(), message.data(), message.size()) == 0);
    }
}

// Every byte a load must write into the block gets the complement of its expected value first,
// so a byte the loader leaves alone is as visible as a wrong one; cheaper than clearing it all.
void Poison(const Model& model) {
    for (std::size_t k = 0; k < model.messages.size() && k < static_cast<std::size_t>(sysex::MaxSysEx); ++k) {
        const Bytes& message = model.messages[k];
        for (std::size_t i = 0; i < message.size() && i < sysex::SlotSize; ++i) {
            sysex::SysExData[k][i] = static_cast<std::uint8_t>(~message[i]);
        }
        sysex::SysExLen[k] = 0xFFFF;
    }
    sysex::SysExCount = -1;
}

// From 1 byte to 1 MiB, spread over the powers of two so that small and large blocks are both
// tried often.
std::size_t BlockSize(std::uint8_t selector, std::uint8_t extra) {
    const unsigned shift = selector % 21;
    return (std::size_t{1} << shift) + (shift == 0 ? 0 : (std::size_t{extra} * 2654435761u) % (std::size_t{1} << shift));
}

// The dump repeated whole until it passes 70,000 bytes.
void Stretch(Bytes& dump) {
    const std::size_t once = dump.size();
    const std::size_t times = (70000 + once) / once;
    dump.resize(once * times);
    for (std::size_t k = 1; k < times; ++k) std::memcpy(dump.data() + k * once, dump.data(), once);
}

std::string DumpPath() {
    const char* folder = std::getenv("TMPDIR");
    return std::string(folder && *folder ? folder : "/tmp") + "/kelvane-fuzz-" + std::to_string(::getpid()) + ".syx";
}

// The scanner, the wire scanner and (when asked) the file loader against the model.
void RunDump(const Bytes& dump, std::size_t block, bool throughFile) {
    // At most some 4,096 blocks per input: block boundaries matter where messages begin and end,
    // and a large input fed a byte at a time would cost as much as thousands of small ones.
    block = std::max(block, dump.size() / 4096);
    const Model model = ModelLoad(dump);

    Poison(model);
    sysex::DumpScanner scanner;
    for (std::size_t pos = 0; pos < dump.size(); pos += block) {
        if (!scanner.Feed(dump.data() + pos, std::min(block, dump.size() - pos))) break;
    }
    const sysex::ScanResult pieces = scanner.Finish();
    sysex::SysExCount = pieces.stored;
    CheckAgainstModel(model, pieces);

    // The file loader on a real file: its own reads, its own block size. A file beginning with
    // "MThd" is a Standard MIDI File, fuzz_smf's business.
    if (throughFile && !(dump.size() >= 4 && std::memcmp(dump.data(), "MThd", 4) == 0)) {
        static const std::string path = DumpPath();
        {
            std::ofstream file(path, std::ios::binary | std::ios::trunc);
            file.write(reinterpret_cast<const char*>(dump.data()), static_cast<std::streamsize>(dump.size()));
            Check(static_cast<bool>(file));
        }
        Poison(model);
        CheckAgainstModel(model, sysex::LoadDumpFile(path));
    }

    // Received under the wire rules, a stored message holds no status byte but its F0 and F7,
    // and nothing is ever reported as the end of a file.
    sysex::DumpScanner wire(sysex::ScanRules::Wire);
    for (std::size_t pos = 0; pos < dump.size(); pos += block) {
        if (!wire.Feed(dump.data() + pos, std::min(block, dump.size() - pos))) break;
    }
    const sysex::ScanResult received = wire.Finish();
    Check(!received.droppedUnterminated);
    Check(received.stored >= 0);
    sysex::SysExCount = received.stored;
    for (std::int32_t k = 0; k < received.stored; ++k) {
        const sysex::MessageBytes stored = sysex::MessageAt(k);
        Check(stored.size() >= 2 && stored.front() == 0xF0 && stored.back() == 0xF7);
        for (std::size_t i = 1; i + 1 < stored.size(); ++i) Check(stored[i] < 0x80);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t block = std::min<std::size_t>(BlockSize(data[0], data[1]), std::size_t{1} << 20);
    const Bytes dump(data + 2, data + size);
    // A real file and a stretched dump each cost as much as a hundred other inputs, so only every
    // 256th input takes those roads, the first one included: a crash file replayed alone takes
    // every road its input can.
    static unsigned long inputs = 0;
    const bool sampled = inputs++ % 256 == 0;
    RunDump(dump, block, sampled);
    // Odd byte 1: the rest repeated past 70,000 bytes as well, so that messages longer than a
    // slot and a full store are reached without huge corpus files.
    if (sampled && (data[1] & 1) != 0 && !dump.empty()) {
        Bytes stretched = dump;
        Stretch(stretched);
        RunDump(stretched, block, true);
    }
    return 0;
}
