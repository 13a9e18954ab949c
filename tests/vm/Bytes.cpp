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
// repeat, so several distances may explain the same bytes; all of them are named.
std::string EarlierCopy(const std::vector<std::uint8_t>& expected, const std::vector<std::uint8_t>& actual,
                        std::size_t offset) {
    std::vector<std::size_t> distances;
    std::size_t longest = 0;
    for (std::size_t distance = 1; distance <= offset; ++distance) {
        std::size_t length = 0;
        while (offset + length < actual.size() && actual[offset + length] == expected[offset + length - distance]) {
            ++length;
        }
        if (length > longest) distances.clear();
        if (length >= longest) {
            longest = length;
            distances.push_back(distance);
        }
    }
    if (longest < 16) return "";
    std::string named;
    for (std::size_t k = 0; k < distances.size() && k < 8; ++k) named += (k ? ", " : "") + std::to_string(distances[k]);
    if (distances.size() > 8) named += ", ...";
    return "\n  from there " + std::to_string(longest) + " bytes are those sent earlier by " + named + " bytes";
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
