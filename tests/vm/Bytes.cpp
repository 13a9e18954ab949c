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

// Bytes in the wrong place are most often a copy of bytes sent earlier: a stale or overwritten
// stretch of some ring buffer on the way, whose size the distance gives away. The test patterns
// repeat in short stretches, so the distance that explains the longest run is the one named.
std::string EarlierCopy(const std::vector<std::uint8_t>& expected, const std::vector<std::uint8_t>& actual,
                        std::size_t offset) {
    std::size_t bestDistance = 0;
    std::size_t bestLength = 0;
    for (std::size_t distance = 1; distance <= offset; ++distance) {
        std::size_t length = 0;
        while (offset + length < actual.size() && actual[offset + length] == expected[offset + length - distance]) {
            ++length;
        }
        if (length > bestLength) {
            bestLength = length;
            bestDistance = distance;
        }
    }
    if (bestLength < 16) return "";
    return "\n  from there " + std::to_string(bestLength) + " bytes are those sent " + std::to_string(bestDistance) +
           " bytes earlier";
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
           << "\n  actual:  " << HexAround(actual, offset) << EarlierCopy(expected, actual, offset);
}

}  // namespace kelvane::vm
