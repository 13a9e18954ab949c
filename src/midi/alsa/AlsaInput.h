#pragma once
// Input through the ALSA sequencer (libasound2).
//
// Sources are the readable, subscribable ports of every other sequencer client, in client and
// port order, named by their port name as `aconnect -i` shows it. Each open port is a sequencer
// client of its own ("Kelvane") with one writable port subscribed to the source. The sequencer
// delivers a long SysEx in chunks of events; the port's collecting thread hands each chunk's
// bytes on as they come, and turns every other event back into its MIDI bytes so that a status
// byte arriving inside a message still cuts it off. The client's input pool is raised to the
// kernel's largest, since the default pool drops the middle of a 64 KiB message that arrives
// faster than it is read.

#include <memory>

#include "midi/InputService.h"

namespace midi {

std::unique_ptr<InputService> MakeAlsaInputService();

}  // namespace midi
