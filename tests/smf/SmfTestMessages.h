#pragma once
// Messages for the writer's tests: put into the global store, and the file they must give,
// assembled field by field.

#include <cstdint>
#include <filesystem>
#include <vector>

namespace smf::test {

using Bytes = std::vector<std::uint8_t>;

// F0, storedLength - 1 data bytes counting up from seed (7-bit, so any reader accepts them), F7.
Bytes PatternMessage(std::uint16_t storedLength, unsigned seed);

// The whole file in one read (a full store's file is 65 MB).
Bytes ReadFileBytes(const std::filesystem::path& path);

// Empties the store, then puts message k (F0 ... F7) into slot k and sets SysExCount.
void FillStore(const std::vector<Bytes>& messages);

// The whole file for these messages: header, track length, then 60 F0 VLQ(L) and the message
// without its F0 for each, End of Track.
Bytes ExpectedFile(const std::vector<Bytes>& messages);

}  // namespace smf::test
