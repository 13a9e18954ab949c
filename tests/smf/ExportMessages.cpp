// Test helper for readers outside C++: puts the messages of a file (each F0 ... F7, one after
// another) into the store and exports it.
//   smf_export_messages <messages file> <output file>

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "Files.h"
#include "smf/SmfWriter.h"
#include "sysex/Store.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <messages file> <output file>\n", argv[0]);
        return 2;
    }
    std::vector<unsigned char> bytes;
    try {
        bytes = testsupport::ReadAll(argv[1]);
    } catch (const std::runtime_error& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 2;
    }
    std::size_t count = 0;
    for (std::size_t at = 0; at < bytes.size(); ++count) {
        if (bytes[at] != 0xF0 || count == sysex::MaxSysEx) {
            std::fprintf(stderr, "message %zu does not start with F0 or does not fit the store\n", count);
            return 2;
        }
        std::size_t length = 0;
        while (at + length < bytes.size() && bytes[at + length] != 0xF7) ++length;
        if (at + length == bytes.size() || length > sysex::MaxStoredLength) {
            std::fprintf(stderr, "message %zu has no F7 or is too long\n", count);
            return 2;
        }
        std::copy(&bytes[at], &bytes[at] + length + 1, sysex::SysExData[count]);
        sysex::SysExLen[count] = static_cast<std::uint16_t>(length);
        at += length + 1;
    }
    sysex::SysExCount = static_cast<std::int32_t>(count);
    try {
        smf::ExportStore(argv[2]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
