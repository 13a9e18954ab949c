#include "cli/Receiver.h"

#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

#include "cli/CliTexts.h"
#include "cli/Interrupt.h"
#include "cli/Sender.h"
#include "common/Failure.h"
#include "midi/Input.h"
#include "midi/Port.h"
#include "sysex/Reception.h"
#include "sysex/Store.h"

namespace cli {

namespace {

using Clock = sysex::Reception::Clock;
constexpr auto PollInterval = std::chrono::milliseconds(20);

std::unique_ptr<midi::InputPort> OpenInput(std::uint32_t entry, sysex::Reception& reception) {
    if (entry == 0) throw kelvane::Failure(NoInputPortText());
    const std::vector<std::string> entries = midi::ReadInputEntries();
    if (entry >= entries.size()) throw kelvane::Failure(InputPortOutOfRangeText(entry, entries.size() - 1));
    midi::InputOpenResult opened = midi::OpenInputEntry(
        static_cast<std::int32_t>(entry), [&reception](std::span<const std::uint8_t> bytes) { reception.Feed(bytes); });
    if (opened.code != 0) throw kelvane::Failure(InputPortOpenFailedText(entry, entries[entry], opened.code));
    return std::move(opened.port);
}

void SendRequest(std::uint32_t entry, std::ostream* progress, const InterruptCatcher& interrupt) {
    if (entry == 0) throw kelvane::Failure(NoPortText());
    const std::vector<std::string> entries = midi::ReadPortEntries();
    if (entry >= entries.size()) throw kelvane::Failure(PortOutOfRangeText(entry, entries.size() - 1));
    const int code = midi::OpenPortIndex(static_cast<std::int32_t>(entry));
    if (code != 0) throw kelvane::Failure(PortOpenFailedText(entry, entries[entry], code));
    std::vector<int> all(static_cast<std::size_t>(sysex::SysExCount));
    std::iota(all.begin(), all.end(), 0);
    SendMessages(all, entry, 0, progress, &interrupt);
}

void ShowCount(std::ostream& progress, const sysex::Reception::Progress& now) {
    progress << "\r受信中: " << now.messages << " メッセージ " << now.bytes << " バイト" << std::flush;
}

}  // namespace

ReceiveOutcome ReceiveIntoStore(const ReceiveRequest& request, std::ostream* progress) {
    InterruptCatcher interrupt;
    sysex::Reception reception;
    std::unique_ptr<midi::InputPort> input = OpenInput(request.inputEntry, reception);
    const Clock::time_point start = Clock::now();
    if (request.sendStore) {
        // Ctrl+C during the request ends the reception as at any other time: what has come is kept.
        try {
            SendRequest(request.outputEntry, progress, interrupt);
        } catch (const SendInterrupted&) {
        }
    }

    ReceiveOutcome outcome;
    std::uint64_t shownBytes = UINT64_MAX;
    const auto idle = std::chrono::milliseconds(request.idleMs);
    const auto count = static_cast<std::int32_t>(std::min<std::uint32_t>(request.count, sysex::MaxSysEx));
    for (;;) {
        const auto now = reception.Now();
        const Clock::time_point at = Clock::now();
        if (progress && now.bytes != shownBytes) {
            ShowCount(*progress, now);
            shownBytes = now.bytes;
        }
        if (interrupt.Requested()) {
            outcome.stoppedBy = "interrupt";
        } else if (count > 0 && now.messages >= count) {
            outcome.stoppedBy = "count";
        } else if (now.full) {
            outcome.stoppedBy = "full";
        } else if (sysex::ReceptionDone(now, at, idle, 0)) {
            outcome.stoppedBy = "idle";
        } else if (request.timeoutMs > 0 && at - start >= std::chrono::milliseconds(request.timeoutMs)) {
            outcome.stoppedBy = "timeout";
        }
        if (!outcome.stoppedBy.empty()) break;
        std::this_thread::sleep_for(PollInterval);
    }
    outcome.inputError = input->LastError();
    input.reset();
    if (progress) {
        ShowCount(*progress, reception.Now());
        *progress << std::endl;
    }
    outcome.bytes = reception.Now().bytes;
    outcome.scan = reception.MoveIntoStore();
    return outcome;
}

}  // namespace cli
