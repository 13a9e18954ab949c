#pragma once
// Input through JACK (libjack): the MIDI output ports of other JACK clients.
//
// Like the output, only a server that is already running is used, and libjack prints nothing.
// Each open port is a JACK client of its own ("Kelvane in") with one MIDI input port connected
// from the source. The process callback copies every event's bytes into a lock-free ring and
// never allocates, locks, logs or waits; the port's collecting thread empties the ring into the
// ByteReceiver. Event boundaries are not kept: a sender may split a long message into several
// events, and the scanner reads bytes, not events. An event that does not fit the ring is
// dropped whole and reported (sysex::LossCause::Overflow) at its place in the stream. So are
// cycles that went by without this client (each cycle's frame time against the one before) and
// the server's xrun notices (sysex::LossCause::MissedCycles): their events never reach us, and
// the message open there is dropped, never saved with a hole. The source's unregistration or
// disconnection and the server's end are reported too, after every byte that came before them.

#include <cstddef>
#include <memory>

#include "midi/InputService.h"

namespace midi {

// The ring between the process callback and the collecting thread: a second of bytes at the
// fastest a JACK sender can go in one cycle, many times over. Tests make it small to overflow it.
inline constexpr std::size_t JackInputRingBytes = std::size_t{1} << 23;

std::unique_ptr<InputService> MakeJackInputService(std::size_t ringBytes = JackInputRingBytes);

}  // namespace midi
