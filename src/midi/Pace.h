#pragma once
// How fast a send goes, and the pace a send takes when nobody chose one. The window's send
// dialog, kelvane-cli send and the remembered settings all start from these.

#include <cstdint>

namespace midi {

// Older devices drop data sent back to back, hence a pause by default.
inline constexpr std::uint32_t DefaultPauseMs = 150;
// The longest pause the dialog offers and the settings keep: a minute is already far beyond
// what any device needs.
inline constexpr std::uint32_t MaxPauseMs = 60'000;
inline constexpr int DefaultSpeedPercent = 100;

struct Pace {
    std::uint32_t pauseMs = DefaultPauseMs;     // after each message but the last
    int speedPercent = DefaultSpeedPercent;     // share of the cable's rate, 1 to 100
};

}  // namespace midi
