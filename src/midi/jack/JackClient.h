#pragma once
// What every JACK client of this program shares: quiet libjack, opening with the status in
// words, the check of return codes, and listing the server's MIDI ports. Starting, connecting
// and ending clients, and waiting for that within a limit, is JackLifecycle.h.

#include <jack/jack.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "midi/BackendFailure.h"
#include "midi/jack/JackLifecycle.h"

namespace midi {

// libjack prints its complaints to stderr; the program reports failures itself. Once per process.
void SilenceLibJack();

// OpenJackClient, throwing BackendFailure with the status in words when it fails; the client's
// record, which names it from now on (JackLifecycle.h). Meant for the lifecycle thread, where
// nothing else opens or closes in between.
std::shared_ptr<JackClientRecord> OpenJackClientOrThrow(const char* name);

// libjack returns 0 on success, sometimes an errno value, and often just -1: anything else
// throws BackendFailure naming `operation`.
void CheckJack(int result, const char* operation);

// The names of the server's MIDI ports with `flags` (JackPortIsInput: what we can send to;
// JackPortIsOutput: what we can receive from), through a client of its own that closes in the
// background once the list is read. Throws like OpenJackClientOrThrow. Meant for the lifecycle
// thread: elsewhere its open goes there within JackAnswerLimit, and the thread that opens keeps
// its memory locking.
std::vector<std::string> ListJackMidiPorts(unsigned long flags);

// The same from any thread, within JackAnswerLimit (throwing like RunWithinJackLimit past it). A
// caller that asks while a listing with the same flags is under way waits for that one instead
// of queueing another behind a server that may not answer.
std::vector<std::string> ListJackMidiPortsWithinLimit(unsigned long flags);

}  // namespace midi
