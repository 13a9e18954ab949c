#pragma once
// Test messages and a byte comparison that stays readable for 64 KiB messages: on a mismatch it
// names the first differing offset and shows a few bytes around it instead of both arrays whole.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvane::vm {

// One complete SysEx message of totalBytes bytes (F0, data bytes, F7). The data bytes depend on
// their position and on seed, so a lost, doubled or swapped block shows as a mismatch.
std::vector<std::uint8_t> MakeMessage(std::size_t totalBytes, unsigned seed);

void Append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& bytes);

testing::AssertionResult SameBytes(const std::vector<std::uint8_t>& expected,
                                   const std::vector<std::uint8_t>& actual);

}  // namespace kelvane::vm
