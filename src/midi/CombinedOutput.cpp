#include "midi/CombinedOutput.h"

#include "common/Failure.h"

namespace midi {

CombinedOutputService::CombinedOutputService(std::vector<std::unique_ptr<OutputService>> parts)
    : parts_(std::move(parts)), counts_(parts_.size(), 0) {}

std::size_t CombinedOutputService::CountDevices() {
    std::size_t total = 0;
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        counts_[i] = parts_[i]->CountDevices();
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
