#pragma once
// Messages for the writer's tests: put into the global store, and the file they must give,
// assembled field by field.

#include <cstdint>
#include <vector>

#include "Messages.h"

namespace smf::test {

using testsupport::Bytes;

// A pattern message of tests/support by its stored length (F0 up to the last data byte), the
// length the store and the file's events count.
inline Bytes StoredMessage(std::size_t storedLength, unsigned seed) {
    return testsupport::PatternMessage(storedLength + 1u, seed);
}

// Empties the store, then puts message k (F0 ... F7) into slot k and sets SysExCount.
void FillStore(const std::vector<Bytes>& messages);

// The whole file for these messages: header, track length, then 60 F0 VLQ(L) and the message
// without its F0 for each, End of Track.
Bytes ExpectedFile(const std::vector<Bytes>& messages);

}  // namespace smf::test
