#pragma once
// Putting wrong checksums right in a dump file's own bytes: exactly the checksum byte of each
// message judged wrong changes, and every other byte (text, padding, other MIDI bytes, a message
// cut off at the end, the structure of a Standard MIDI File) stays as it was. The file is read
// as the loader reads it (raw, Standard MIDI File or RIFF 'RMID'), so message k here is message
// k of the store after a load. No globals; any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sysex {

struct FixedBytes {
    std::vector<std::uint8_t> bytes;  // the file with its checksums put right
    std::size_t fixed = 0;            // checksum bytes changed
};

// Throws kelvane::Failure for a Standard MIDI File whose header breaks the format (the load
// refuses it too).
FixedBytes FixChecksumsInFile(std::vector<std::uint8_t> file);

// The same for the file at `pathUtf8`, read whole; throws as LoadDumpFile does.
FixedBytes FixChecksumsInDumpFile(const std::string& pathUtf8);

}  // namespace sysex
