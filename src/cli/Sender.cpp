#include "cli/Sender.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <future>

#include "cli/CliTexts.h"
#include "cli/Interrupt.h"
#include "cli/JsonText.h"
#include "common/Failure.h"
#include "midi/Port.h"
#include "sysex/Store.h"

namespace cli {

namespace {

// Often enough that the line looks live and Ctrl+C is noticed at once.
constexpr auto PollInterval = std::chrono::milliseconds(100);

std::string Clock(std::chrono::milliseconds time) {
    const long long seconds = (time.count() + 999) / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    return text;
}

// The transmission holds its own copy of what it sends; a list that names the store's largest
// messages many times must not copy more than this (a day and more on a MIDI cable).
constexpr std::uint64_t MaxSelectedBytes = std::uint64_t{1} << 28;

}  // namespace

std::vector<std::vector<std::uint8_t>> StoredMessages(const std::vector<int>& indexes) {
    std::uint64_t bytes = 0;
    for (const int k : indexes) bytes += sysex::MessageAt(k).size();
    if (bytes > MaxSelectedBytes) throw kelvane::Failure(TooManyBytesText(bytes, MaxSelectedBytes));
    std::vector<std::vector<std::uint8_t>> messages;
    messages.reserve(indexes.size());
    for (const int k : indexes) {
        const sysex::MessageBytes message = sysex::MessageAt(k);
        messages.emplace_back(message.begin(), message.end());
    }
    return messages;
}

std::string ProgressLine(const midi::TransmissionProgress& progress) {
    const std::uint64_t percent = progress.bytesTotal ? progress.bytesDone * 100 / progress.bytesTotal : 100;
    return "送信中: " + std::to_string(progress.messagesDone) + "/" + std::to_string(progress.messagesTotal) +
           " メッセージ  " + std::to_string(progress.bytesDone) + "/" + std::to_string(progress.bytesTotal) +
           " バイト  " + std::to_string(percent) + "%  残り " + Clock(progress.timeLeft);
}

std::vector<int> InDoubtNumbers(const midi::TransmissionOutcome& outcome, const std::vector<int>& indexes) {
    std::vector<int> numbers;
    for (const std::size_t k : outcome.messagesInDoubt) {
        if (k < indexes.size()) numbers.push_back(indexes[k] + 1);
    }
    return numbers;
}

std::string SendSummaryJson(const midi::TransmissionOutcome& outcome, const std::vector<int>& indexes) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(outcome.elapsed.count()) / 1000.0);
    std::string inDoubt;
    for (const int number : InDoubtNumbers(outcome, indexes)) inDoubt += (inDoubt.empty() ? "" : ",") + std::to_string(number);
    return "{\"messagesSent\":" + std::to_string(outcome.messagesWhole) +
           ",\"messagesTotal\":" + std::to_string(indexes.size()) + ",\"bytes\":" + std::to_string(outcome.bytes) +
           ",\"seconds\":" + seconds + ",\"inDoubt\":[" + inDoubt + "],\"cancelled\":" + (outcome.cancelled ? "true" : "false") +
           (outcome.error.empty() ? std::string() : ",\"error\":" + JsonString(outcome.error)) + "}\n";
}

midi::TransmissionOutcome SendMessages(const std::vector<int>& indexes, const midi::Pace& pace,
                                       std::ostream* progress, const InterruptCatcher* interrupt) {
    return SendMessages(StoredMessages(indexes), pace, progress, interrupt);
}

midi::TransmissionOutcome SendMessages(std::vector<std::vector<std::uint8_t>> messages, const midi::Pace& pace,
                                       std::ostream* progress, const InterruptCatcher* interrupt) {
    midi::Transmission transmission(std::move(messages), pace);
    if (!midi::MidiOutHandle) {
        midi::TransmissionOutcome none;
        none.error = "ポートが開いていません";
        return none;
    }
    midi::OutputPort& port = *midi::MidiOutHandle;
    // The engine sleeps between chunks on its own thread; this one watches Ctrl+C and draws.
    auto running = std::async(std::launch::async, [&] { return transmission.Run(port); });
    std::size_t shown = 0;
    while (running.wait_for(PollInterval) != std::future_status::ready) {
        if (interrupt && interrupt->Requested()) transmission.Cancel();
        if (progress) {
            const std::string line = ProgressLine(transmission.Progress());
            // Padded over a longer line drawn before.
            *progress << '\r' << line << std::string(shown > line.size() ? shown - line.size() : 0, ' ')
                      << std::flush;
            shown = line.size();
        }
    }
    const midi::TransmissionOutcome outcome = running.get();
    if (progress) *progress << '\r' << ProgressLine(transmission.Progress()) << std::endl;
    return outcome;
}

void SendMessages(const std::vector<int>& indexes, std::uint32_t portIndex, std::uint32_t gapMs,
                  std::ostream* progress, const InterruptCatcher* interrupt) {
    if (!midi::MidiOutHandle) throw kelvane::Failure(SendUnfinishedText(portIndex));
    const midi::TransmissionOutcome outcome = SendMessages(indexes, midi::Pace{gapMs, midi::DefaultSpeedPercent}, progress, interrupt);
    // A port that takes nothing more after Ctrl+C (a suspended server) fails the wait for its
    // last bytes; the send was still stopped as asked, and says so.
    if (outcome.cancelled) throw SendInterrupted(SendCancelledText(outcome.messagesWhole, indexes.size()));
    if (!outcome.error.empty()) throw kelvane::Failure(outcome.error);
}

}  // namespace cli
