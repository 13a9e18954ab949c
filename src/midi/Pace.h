#pragma once
// How a send is paced, as the send dialog, `kelvane-cli send` and the remembered settings all
// know it: the pause after each message and the speed. Written once here, so that what is
// offered, what is accepted and what is remembered never drift apart.
//
// The speed is a share of the MIDI cable's rate (3,125 bytes a second) in percent, or
// FastestSpeed: as fast as the port takes the bytes. Above 100 % only a device that takes more
// than a cable (USB) gains anything; a port that stands for a cable and cannot tell how much it
// takes still never gets more than it passes on.

#include <cstdint>
#include <string>

namespace midi {

// Older devices drop data sent back to back, hence a pause by default.
inline constexpr std::uint32_t DefaultPauseMs = 150;
// The longest pause the dialog offers and the settings keep: a minute is already far beyond
// what any device needs.
inline constexpr std::uint32_t MaxPauseMs = 60'000;

// As fast as the port takes the bytes; 0 so that it sorts and stores apart from every share.
inline constexpr int FastestSpeed = 0;
inline constexpr int DefaultSpeedPercent = 100;
inline constexpr int MinSpeedPercent = 1;
inline constexpr int MaxSpeedPercent = 1000;

// Fastest first, as the dialog lists them.
inline constexpr int OfferedSpeeds[] = {FastestSpeed, 1000, 400, 200, 100, 50, 25, 10};

// A speed a send may ask for: FastestSpeed or a share from MinSpeedPercent to MaxSpeedPercent.
constexpr bool SpeedAccepted(long long speed) {
    return speed == FastestSpeed || (speed >= MinSpeedPercent && speed <= MaxSpeedPercent);
}

// The name the user sees (UTF-8): "最大" or "200 %".
inline std::string SpeedText(int speed) {
    return speed == FastestSpeed ? std::string("最大") : std::to_string(speed) + " %";
}

struct Pace {
    std::uint32_t pauseMs = DefaultPauseMs;     // after each message but the last
    int speedPercent = DefaultSpeedPercent;     // a share of the cable's rate, or FastestSpeed
};

}  // namespace midi
