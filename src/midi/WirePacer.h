#pragma once
// Keeps a hardware MIDI port from being sent bytes faster than its cable carries them.
//
// The ALSA sequencer hands events for a hardware port straight to the port's rawmidi buffer
// (4 KiB by default) and silently drops what does not fit, so a long SysEx sent at memory
// speed loses its middle. A token bucket at the wire rate, with a burst well below that
// buffer, keeps every byte. Pure: the caller supplies the time.

#include <algorithm>
#include <chrono>
#include <cstddef>

#include "midi/WireTime.h"

namespace midi {

class WirePacer {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::size_t BurstBytes = 1024;

    explicit WirePacer(Clock::time_point start) : last_(start) {}

    // Accounts for `bytes` about to be sent at `now`; returns how long to wait first.
    std::chrono::microseconds Reserve(std::size_t bytes, Clock::time_point now) {
        const auto idle = std::chrono::duration_cast<std::chrono::microseconds>(now - last_);
        last_ = std::max(last_, now);
        creditUs_ = std::min(creditUs_ + std::max<long long>(idle.count(), 0), MaxCreditUs);
        creditUs_ -= static_cast<long long>(bytes) * ByteTime.count();
        if (creditUs_ >= 0) return std::chrono::microseconds{0};
        return std::chrono::microseconds{-creditUs_};
    }

private:
    static constexpr long long MaxCreditUs = static_cast<long long>(BurstBytes) * ByteTime.count();
    Clock::time_point last_;
    long long creditUs_ = MaxCreditUs;  // a fresh port may take one burst at once
};

}  // namespace midi
