#pragma once
// Why bytes of a reception were lost, or why its source stopped, as the inputs report it and the
// reception's summary tells it. Shared by midi/ (which detects it) and sysex/ (which accounts for
// it), so that both speak of the same causes.

#include <cstdint>

namespace sysex {

enum class LossCause : std::uint8_t {
    Overflow,     // our own buffer between the device and the reception ran full; events dropped
    Overrun,      // the system's buffer for our client overran (ALSA's pool, WinMM's buffers)
    Damaged,      // the device or driver handed over a broken message
    SourceGone,   // the sending port went away or was disconnected: nothing more will come
    ServerGone,   // the sound server stopped: nothing more will come
    // Cycles of the sound server went by without our client (a busy machine, a process stopped
    // for a while) or some client was late (the server's xrun): what they carried is gone.
    MissedCycles,
};
inline constexpr int LossCauseCount = 6;

// Whether the reception cannot get any more bytes after this.
constexpr bool LossEndsReception(LossCause cause) {
    return cause == LossCause::SourceGone || cause == LossCause::ServerGone;
}

}  // namespace sysex
