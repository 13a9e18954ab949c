#pragma once
// Output through JACK (libjack): the MIDI input ports of other JACK clients.
//
// Only a server that is already running is used, never started; which server follows libjack's
// usual rule (the JACK_DEFAULT_SERVER environment variable, else "default"). Listing and opening
// give up after JackAnswerLimit (JackClient.h) on a server that does not answer. Without a server
// the service lists no device and prints nothing: libjack's error and info printing are
// switched off for the whole process, and every failing call is reported through
// BackendFailure instead.
//
// Each open port is a JACK client of its own with one MIDI output port connected to the
// device. The port's thread copies each whole message into a lock-free ring buffer; the
// process callback moves bytes from the ring into the port buffer and never allocates, locks,
// logs or waits. A message is split only when it is larger than a whole port buffer, into
// consecutive events that carry its bytes in order, each as large as the buffer takes; one
// longer than the ring streams through it, so its length is bounded by memory only. Each cycle's
// frame time against the one before tells the callback when its last run came too late for its
// cycle; the messages that run carried, and those of the last few runs when the server reports
// an xrun, are named in PortStatus::inDoubt. Only a port flagged physical leads to a
// cable (OutputPort::LeadsToCable): a paced send hands it pieces, and since nothing tells how
// fast its driver passes them on, it never gets them faster than a cable carries (WirePacer.h);
// every other port gets each message whole, as programs read one event as one message.

#include <memory>

#include "midi/OutputService.h"

namespace midi {

// Status().lastError of a port whose server has gone away.
inline constexpr const char* JackServerGoneText = "JACK サーバーが停止したため送信できません";
// Status().lastError of a port whose receiving port has gone away (or was disconnected).
inline constexpr const char* JackReceiverGoneText = "JACK の受け手のポートがなくなったため送信できません";

std::unique_ptr<OutputService> MakeJackOutputService();

}  // namespace midi
