#pragma once
// Output through the ALSA sequencer (libasound2), the usual way MIDI leaves a Linux machine.
//
// Devices are the writable, subscribable ports of every other sequencer client, "Midi Through"
// included, in client and port order, named by their port name as `aconnect -o` shows it.
// Each open port is a sequencer client of its own, subscribed to the device, sending every
// message as consecutive direct SysEx events of at most ChunkBytes bytes: one event above
// about 16 KiB is refused by alsa-lib, and scheduled events of 64 KiB overflow the kernel pool.
// Ports of the kernel's drivers (hardware, USB MIDI, snd-virmidi) and ports typed as hardware
// are paced at the MIDI wire rate (see WirePacer.h), since their bytes end in a rawmidi buffer
// that the sequencer overfills without a word. The exception: a port of snd-seq-midi (a raw
// MIDI device: a sound card's or a USB interface's MIDI OUT) is written through its raw MIDI
// device, from its first message until it closes, which takes bytes exactly as fast as the
// device passes them on; only when another program holds the device through the sequencer does
// it go that way, paced. Meanwhile other programs cannot reach the device through the sequencer.
//
// Without a sequencer (no /dev/snd, no permission) the service lists no device and prints
// nothing: alsa-lib's own error printing is switched off for the whole process, and every
// failing call is reported through BackendFailure instead.

#include <cstddef>
#include <memory>

#include "midi/OutputService.h"

namespace midi {

inline constexpr std::size_t AlsaChunkBytes = 256;

std::unique_ptr<OutputService> MakeAlsaOutputService();

}  // namespace midi
