#pragma once
// Input through JACK (libjack): the MIDI output ports of other JACK clients.
//
// Like the output, only a server that is already running is used, and libjack prints nothing.
// Each open port is a JACK client of its own ("Kelvane in") with one MIDI input port connected
// from the source. The process callback copies every event's bytes into a lock-free ring and
// never allocates, locks, logs or waits; the port's collecting thread empties the ring into the
// ByteReceiver. Event boundaries are not kept: a sender may split a long message into several
// events, and the scanner reads bytes, not events.

#include <memory>

#include "midi/InputService.h"

namespace midi {

// LastError() of a port whose server has gone away, and of one whose ring overflowed.
inline constexpr const char* JackServerGoneForInputText = "JACK サーバーが停止したため受信できません";
inline constexpr const char* JackInputOverflowText = "受信が速すぎたため一部のデータが失われました";

std::unique_ptr<InputService> MakeJackInputService();

}  // namespace midi
