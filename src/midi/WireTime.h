#pragma once
// How long bytes take on a DIN MIDI cable: 31,250 baud with a start and a stop bit, so 3,125
// bytes a second, 320 µs a byte. Pacing hardware ports, waiting for a driver and the command
// line's pause after each message all go by it.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace midi {

inline constexpr std::chrono::microseconds ByteTime{320};

constexpr std::chrono::microseconds WireTime(std::size_t bytes) {
    return ByteTime * static_cast<std::int64_t>(bytes);
}

}  // namespace midi
