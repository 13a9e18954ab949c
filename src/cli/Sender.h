#pragma once
// Sending stored messages on the open port (midi::MidiOutHandle) through the transmission
// engine (midi/Transmission.h): paced for the device, with one progress line on a terminal,
// and stopped by Ctrl+C.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "common/Failure.h"
#include "midi/Transmission.h"

namespace cli {

class InterruptCatcher;

// A transmission that Ctrl+C stopped; its text says how many messages went out whole.
class SendInterrupted : public kelvane::Failure {
public:
    using kelvane::Failure::Failure;
};

// The progress line: "送信中: 12/40 メッセージ  8192/20480 バイト  40%  残り 0:07".
std::string ProgressLine(const midi::TransmissionProgress& progress);

// The --json summary, one line with its newline; `indexes` are the stored messages sent (from
// 0), in the order sent, so that messages in doubt are named by their numbers.
std::string SendSummaryJson(const midi::TransmissionOutcome& outcome, const std::vector<int>& indexes);

// The numbers (from 1, as --messages takes them) of the messages in doubt.
std::vector<int> InDoubtNumbers(const midi::TransmissionOutcome& outcome, const std::vector<int>& indexes);

// Copies of the stored messages at `indexes` (from 0), F0 through F7.
std::vector<std::vector<std::uint8_t>> StoredMessages(const std::vector<int>& indexes);

// Sends `messages` in that order on the open port at `pace`, as the overload below.
midi::TransmissionOutcome SendMessages(std::vector<std::vector<std::uint8_t>> messages, const midi::Pace& pace,
                                       std::ostream* progress, const InterruptCatcher* interrupt);

// Sends the stored messages at `indexes` (from 0) in that order on the open port at `pace`.
// With `progress` it keeps one line there up to date (and ends it); with `interrupt` a request
// there cancels the send. Never throws for the port: its failure is in the outcome.
midi::TransmissionOutcome SendMessages(const std::vector<int>& indexes, const midi::Pace& pace,
                                       std::ostream* progress, const InterruptCatcher* interrupt);

// The same at the full rate, on the open port of entry `portIndex`; throws kelvane::Failure with
// the port's reason when a message fails or the port does not finish, and SendInterrupted when
// `interrupt` stopped it.
void SendMessages(const std::vector<int>& indexes, std::uint32_t portIndex, std::uint32_t gapMs,
                  std::ostream* progress, const InterruptCatcher* interrupt = nullptr);

}  // namespace cli
