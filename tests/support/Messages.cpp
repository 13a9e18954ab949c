#include "Messages.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>

namespace testsupport {

namespace {

Bytes Framed(std::size_t total) {
    if (total < 2) throw std::invalid_argument("a SysEx message has at least F0 and F7");
    Bytes message(total);
    message.front() = 0xF0;
    message.back() = 0xF7;
    return message;
}

}  // namespace

Bytes PatternMessage(std::size_t total, unsigned seed) {
    Bytes message = Framed(total);
    // A plain pointer keeps a full store's worth (65 MB) quick in the unoptimised sanitizer build.
    std::uint8_t* data = message.data();
    const std::size_t offset = seed * 17u;
    for (std::size_t i = 1; i + 1 < total; ++i) {
        data[i] = static_cast<std::uint8_t>((i * 31 + i / 128 + offset) & 0x7F);
    }
    return message;
}

Bytes FilledMessage(std::size_t total, std::uint8_t fill) {
    Bytes message = Framed(total);
    std::fill(message.begin() + 1, message.end() - 1, fill);
    return message;
}

Bytes Concat(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& part : parts) Append(all, part);
    return all;
}

void Append(Bytes& to, const Bytes& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

Bytes NewEndMarker() {
    static std::atomic<unsigned> issued{0};
    const unsigned n = issued++;
    return {0xF0, 0x7D, 0x4B, 0x45, 0x4C, static_cast<std::uint8_t>((n >> 14) & 0x7F),
            static_cast<std::uint8_t>((n >> 7) & 0x7F), static_cast<std::uint8_t>(n & 0x7F), 0xF7};
}

std::optional<Bytes> BeforeEndMarker(const Bytes& received, const Bytes& marker) {
    if (received.size() < marker.size() ||
        !std::equal(marker.begin(), marker.end(), received.end() - marker.size())) {
        return std::nullopt;
    }
    return Bytes(received.begin(), received.end() - marker.size());
}

}  // namespace testsupport
