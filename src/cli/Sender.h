#pragma once
// Sending stored messages one by one on the open port (midi::MidiOutHandle), paced for
// hardware: a message is followed by the time its bytes take on a DIN MIDI cable, then by a
// gap, because older devices drop data that arrives back to back.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

namespace cli {

// How long to wait for the port to report a message of `bytes` bytes sent before giving up:
// twice its wire time (a paced hardware port needs that once) plus ten seconds of slack.
std::chrono::milliseconds SendPatience(std::size_t bytes);

// Sends the stored messages at `indexes` (from 0) in that order on the open port. For each it
// hands the message over, waits until the port reports it sent, waits until its wire time has
// passed since the hand-over, then waits gapMs more; so the process never ends with a message
// still in flight. With `progress` it writes "[i/n] <list line>" there as each message starts.
// Throws kelvane::Failure with the port's own reason when a message fails, or
// SendUnfinishedText when the port does not finish in time; nothing more is sent then.
void SendMessages(const std::vector<int>& indexes, std::uint32_t portIndex, std::uint32_t gapMs,
                  std::ostream* progress);

}  // namespace cli
