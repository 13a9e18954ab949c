#pragma once
// Sending stored messages one by one on the open port (midi::MidiOutHandle), paced for
// hardware: a message is followed by the time its bytes take on a DIN MIDI cable, then by a
// gap, because older devices drop data that arrives back to back.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

#include "common/Failure.h"

namespace cli {

class InterruptCatcher;

// A transmission that Ctrl+C stopped; its text says how many messages went out.
class SendInterrupted : public kelvane::Failure {
public:
    using kelvane::Failure::Failure;
};

// How long a message already handed over may still take once Ctrl+C has come, before the
// command gives up on it: with the wait for closing ports at exit, the command ends within about
// 2.5 s whatever the device or the sound server does.
inline constexpr std::chrono::milliseconds InterruptGrace{500};

// How long to wait for the port to report a message of `bytes` bytes sent before giving up:
// twice its wire time (a paced hardware port needs that once) plus ten seconds of slack.
std::chrono::milliseconds SendPatience(std::size_t bytes);

// Sends the stored messages at `indexes` (from 0) in that order on the open port. For each it
// hands the message over, waits until the port reports it sent, waits until its wire time has
// passed since the hand-over, then waits gapMs more; so the process never ends with a message
// still in flight. With `progress` it writes "[i/n] <list line>" there as each message starts.
// Throws kelvane::Failure with the port's own reason when a message fails, or
// SendUnfinishedText when the port does not finish in time; nothing more is sent then.
// With `interrupt`, Ctrl+C starts no further message and throws SendInterrupted once the one
// under way is out (waiting InterruptGrace at most).
void SendMessages(const std::vector<int>& indexes, std::uint32_t portIndex, std::uint32_t gapMs,
                  std::ostream* progress, const InterruptCatcher* interrupt = nullptr);

}  // namespace cli
