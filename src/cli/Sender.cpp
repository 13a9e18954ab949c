#include "cli/Sender.h"

#include <thread>

#include "cli/CliTexts.h"
#include "cli/Interrupt.h"
#include "common/Failure.h"
#include "midi/Port.h"
#include "midi/WireTime.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace cli {

std::chrono::milliseconds SendPatience(std::size_t bytes) {
    return std::chrono::ceil<std::chrono::milliseconds>(2 * midi::WireTime(bytes)) + std::chrono::seconds(10);
}

namespace {

// WaitUntilSent in slices, so that Ctrl+C is noticed; after it the message gets InterruptGrace.
bool WaitUntilSent(midi::OutputPort& port, std::chrono::milliseconds patience, const InterruptCatcher* interrupt) {
    if (!interrupt) return port.WaitUntilSent(patience);
    constexpr std::chrono::milliseconds Slice{50};
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!interrupt->Requested()) {
        if (port.WaitUntilSent(Slice)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
    }
    return port.WaitUntilSent(InterruptGrace);
}

}  // namespace

void SendMessages(const std::vector<int>& indexes, std::uint32_t portIndex, std::uint32_t gapMs,
                  std::ostream* progress, const InterruptCatcher* interrupt) {
    using Clock = std::chrono::steady_clock;
    for (std::size_t i = 0; i < indexes.size(); ++i) {
        if (interrupt && interrupt->Requested()) throw SendInterrupted(SendInterruptedText(i, indexes.size(), false));
        const int k = indexes[i];
        const std::uint16_t storedLength = sysex::SysExLen[k];
        const std::size_t bytes = std::size_t{storedLength} + 1;  // F0 through F7
        if (progress) {
            *progress << '[' << (i + 1) << '/' << indexes.size() << "] " << sysex::ListLine(k) << std::endl;
        }

        const Clock::time_point handedOver = Clock::now();
        midi::SendOnOpenPort(sysex::SysExData[k], storedLength);
        if (!midi::MidiOutHandle || !WaitUntilSent(*midi::MidiOutHandle, SendPatience(bytes), interrupt)) {
            if (interrupt && interrupt->Requested()) throw SendInterrupted(SendInterruptedText(i, indexes.size(), true));
            throw kelvane::Failure(SendUnfinishedText(portIndex));
        }
        // The port was opened for this run, so any failure at all is one of ours.
        const midi::PortStatus status = midi::MidiOutHandle->Status();
        if (status.failed > 0) throw kelvane::Failure(status.lastError);

        const auto pause = (handedOver + midi::WireTime(bytes) - Clock::now()) + std::chrono::milliseconds(gapMs);
        if (!interrupt) {
            std::this_thread::sleep_for(pause);
        } else if (pause > Clock::duration::zero()) {
            interrupt->WaitFor(std::chrono::ceil<std::chrono::milliseconds>(pause));
        }
        if (interrupt && interrupt->Requested()) {
            throw SendInterrupted(SendInterruptedText(i + 1, indexes.size(), false));
        }
    }
}

}  // namespace cli
