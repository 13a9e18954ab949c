#include "cli/Sender.h"

#include <thread>

#include "cli/CliTexts.h"
#include "common/Failure.h"
#include "midi/Port.h"
#include "midi/WireTime.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace cli {

std::chrono::milliseconds SendPatience(std::size_t bytes) {
    return std::chrono::ceil<std::chrono::milliseconds>(2 * midi::WireTime(bytes)) + std::chrono::seconds(10);
}

void SendMessages(const std::vector<int>& indexes, std::uint32_t portIndex, std::uint32_t gapMs,
                  std::ostream* progress) {
    using Clock = std::chrono::steady_clock;
    for (std::size_t i = 0; i < indexes.size(); ++i) {
        const int k = indexes[i];
        const std::uint16_t storedLength = sysex::SysExLen[k];
        const std::size_t bytes = std::size_t{storedLength} + 1;  // F0 through F7
        if (progress) {
            *progress << '[' << (i + 1) << '/' << indexes.size() << "] " << sysex::ListLine(k) << std::endl;
        }

        const Clock::time_point handedOver = Clock::now();
        midi::SendOnOpenPort(sysex::SysExData[k], storedLength);
        if (!midi::MidiOutHandle || !midi::MidiOutHandle->WaitUntilSent(SendPatience(bytes))) {
            throw kelvane::Failure(SendUnfinishedText(portIndex));
        }
        // The port was opened for this run, so any failure at all is one of ours.
        const midi::PortStatus status = midi::MidiOutHandle->Status();
        if (status.failed > 0) throw kelvane::Failure(status.lastError);

        std::this_thread::sleep_until(handedOver + midi::WireTime(bytes));
        std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
    }
}

}  // namespace cli
