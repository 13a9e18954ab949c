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
    // at start-up the window waits for the whole list. The first part is asked on this thread.
    std::vector<std::future<std::size_t>> later;
    for (std::size_t i = 1; i < parts_.size(); ++i) {
        OutputService* part = parts_[i].get();
        try {
            later.push_back(std::async(std::launch::async, [part] { return part->CountDevices(); }));
        } catch (const std::system_error&) {
            later.push_back(std::async(std::launch::deferred, [part] { return part->CountDevices(); }));
        }
    }
    if (parts_.empty()) return 0;
    std::size_t total = counts_[0] = parts_[0]->CountDevices();
    for (std::size_t i = 1; i < parts_.size(); ++i) {
        auto& count = later[i - 1];
        // A window that waits here still repaints, as it does while a part waits on its own.
        while (count.wait_for(std::chrono::milliseconds(10)) == std::future_status::timeout) WhileWaiting();
        counts_[i] = count.get();
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
