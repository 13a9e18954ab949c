#include "midi/CombinedOutput.h"

#include <chrono>
#include <future>
#include <system_error>

#include "common/Failure.h"
#include "midi/Port.h"

namespace midi {

CombinedOutputService::CombinedOutputService(std::vector<std::unique_ptr<OutputService>> parts)
    : parts_(std::move(parts)), counts_(parts_.size(), 0) {}

std::size_t CombinedOutputService::CountDevices() {
    // The parts are asked at once: a sound server may take tens of milliseconds to answer, and
    // at start-up the window waits for the whole list. The last part (the sound server, on
    // Linux) is asked on this thread, so that its answer is not a thread start later.
    std::vector<std::future<std::size_t>> earlier;
    for (std::size_t i = 0; i + 1 < parts_.size(); ++i) {
        OutputService* part = parts_[i].get();
        try {
            earlier.push_back(std::async(std::launch::async, [part] { return part->CountDevices(); }));
        } catch (const std::system_error&) {
            earlier.push_back(std::async(std::launch::deferred, [part] { return part->CountDevices(); }));
        }
    }
    if (parts_.empty()) return 0;
    std::size_t total = counts_.back() = parts_.back()->CountDevices();
    for (std::size_t i = 0; i < earlier.size(); ++i) {
        // A window that waits here still repaints, as it does while a part waits on its own.
        while (earlier[i].wait_for(std::chrono::milliseconds(10)) == std::future_status::timeout) WhileWaiting();
        counts_[i] = earlier[i].get();
        total += counts_[i];
    }
    return total;
}

CombinedOutputService::Route CombinedOutputService::Find(std::size_t device) const {
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        if (device < counts_[i]) return {parts_[i].get(), device};
        device -= counts_[i];
    }
    return {nullptr, 0};
}

std::string CombinedOutputService::DeviceName(std::size_t device) {
    const Route route = Find(device);
    if (!route.service) {
        throw kelvane::Failure("MIDI 出力デバイス " + std::to_string(device) + " はありません");
    }
    return route.service->DeviceName(route.device);
}

OpenResult CombinedOutputService::Open(std::size_t device) {
    const Route route = Find(device);
    if (!route.service) {
        return {NoSuchDevice, "MIDI 出力デバイス " + std::to_string(device) + " はありません", nullptr};
    }
    return route.service->Open(route.device);
}

std::string CombinedOutputService::UnansweredText() const {
    std::string text;
    for (const auto& part : parts_) {
        const std::string unanswered = part->UnansweredText();
        if (unanswered.empty()) continue;
        text += (text.empty() ? "" : "\n") + unanswered;
    }
    return text;
}

}  // namespace midi
