#pragma once
// The checksums of the two families whose messages carry one, recognised only where the
// message's shape leaves no doubt; anything else has no known checksum, which is better than a
// false alarm. Messages run from their F0 through their F7 inclusive. Pure functions, any thread.
//
// Roland, Data Set 1 (12H) and Request Data 1 (11H):
//   F0 41 dev model cmd address... data... sum F7     (dev 00-1FH or 7FH)
// The model ID is one byte, or, for the later models, one or more 00 bytes followed by one
// non-zero byte (at most four bytes in all); the command byte follows it. The sum covers every
// byte between the command byte and the checksum, so the address length needs no knowing.
// Yamaha bulk dumps:
//   F0 43 0n format count-msb count-lsb data... sum F7     (count = bytes of data, exactly)
//   F0 43 0n 4C count-msb count-lsb address(3) data... sum F7   (XG: count = bytes of data)
// The first sums the counted data, the XG form the count, the address and the data.
// Every checksum makes the 7-bit sum of what it covers and itself zero. Every byte between the
// F0 and the F7 must be a data byte (below 80H) for a checksum to be known.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sysex {

enum class ChecksumState { None, Correct, Wrong };

struct ChecksumVerdict {
    ChecksumState state = ChecksumState::None;
    std::uint8_t expected = 0;  // what the checksum byte should hold (Correct, Wrong)
    std::uint8_t found = 0;     // what it holds
    std::size_t at = 0;         // its index in the message
};

ChecksumVerdict CheckChecksum(const std::uint8_t* message, std::size_t size);

// Puts the expected checksum in place; true when the byte changed.
bool FixChecksum(std::uint8_t* message, std::size_t size);

// The verdict as the check lists it: "チェックサム正常", "チェックサム不一致 (正しくは 3AH、記録は 3BH)",
// "チェックサム不明".
std::string ChecksumVerdictText(const ChecksumVerdict& verdict);

// The verdicts of every stored message.
std::vector<ChecksumVerdict> CheckStore();

// The indexes (from 0) of the stored messages whose checksum is wrong.
std::vector<std::size_t> WrongChecksumsInStore();

// One sentence on the whole store for the window: "12 件中 不一致 2 件: 0004, 0010", or that
// all known checksums are right, or that none is known. Lists at most MaxListedNumbers numbers.
inline constexpr std::size_t MaxListedNumbers = 20;
std::string ChecksumSummary(const std::vector<ChecksumVerdict>& verdicts);

// Message indexes (from 0) as the list numbers them: "0004, 0010", at most MaxListedNumbers of
// them, then " ほか N 件".
std::string ListNumbersText(const std::vector<std::size_t>& indexes);

}  // namespace sysex
