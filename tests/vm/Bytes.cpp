#include "Bytes.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace kelvane::vm {

namespace {

std::string HexAround(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    const std::size_t from = offset >= 8 ? offset - 8 : 0;
    const std::size_t to = std::min(bytes.size(), offset + 8);
    std::string text;
    for (std::size_t i = from; i < to; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        text += (i == offset ? "[" : " ") + std::string(hex) + (i == offset ? "]" : "");
    }
    return text;
}

}  // namespace

testing::AssertionResult SameBytes(const std::vector<std::uint8_t>& expected,
                                   const std::vector<std::uint8_t>& actual) {
    const auto [expectedAt, actualAt] =
        std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
    if (expectedAt == expected.end() && actualAt == actual.end()) {
        return testing::AssertionSuccess();
    }
    const auto offset = static_cast<std::size_t>(expectedAt - expected.begin());
    // How much agrees at the end tells a loss or a swap in the middle from a cut end.
    const auto [expectedBack, actualBack] =
        std::mismatch(expected.rbegin(), expected.rend(), actual.rbegin(), actual.rend());
    return testing::AssertionFailure()
           << "expected " << expected.size() << " bytes, got " << actual.size()
           << "; first difference at offset " << offset << ", the last "
           << static_cast<std::size_t>(expectedBack - expected.rbegin()) << " bytes agree"
           << "\n  expected:" << HexAround(expected, offset)
           << "\n  actual:  " << HexAround(actual, offset);
}

}  // namespace kelvane::vm
