#pragma once
// A byte comparison that stays readable for 64 KiB messages: on a mismatch it names the first
// differing offset and shows a few bytes around it instead of both arrays whole. The messages
// come from tests/support (Messages.h).

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kelvane::vm {

testing::AssertionResult SameBytes(const std::vector<std::uint8_t>& expected,
                                   const std::vector<std::uint8_t>& actual);

}  // namespace kelvane::vm
