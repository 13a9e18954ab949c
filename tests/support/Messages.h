#pragma once
// Building SysEx test messages and dumps.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

// F0, then `total - 2` bytes of a repeating pattern that starts at `seed` (never F0 or F7), then
// F7: `total` bytes in all, so its stored length is total - 1.
inline Bytes PatternMessage(std::size_t total, std::uint8_t seed) {
    Bytes m(total);
    for (std::size_t i = 0; i < total; ++i) m[i] = static_cast<std::uint8_t>((seed + i * 7) & 0x7F);
    m.front() = 0xF0;
    m.back() = 0xF7;
    return m;
}

// The messages one after another, as a dump file holds them.
inline Bytes Concat(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace testsupport
