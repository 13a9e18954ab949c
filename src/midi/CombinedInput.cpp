#include "midi/CombinedInput.h"

#include "common/Failure.h"
#include "midi/OutputService.h"

namespace midi {

namespace {
std::string NoSourceText(std::size_t device) {
    return "MIDI 入力デバイス " + std::to_string(device) + " はありません";
}
}  // namespace

CombinedInputService::CombinedInputService(std::vector<std::unique_ptr<InputService>> parts)
    : parts_(std::move(parts)), counts_(parts_.size(), 0) {}

std::size_t CombinedInputService::CountDevices() {
    std::size_t total = 0;
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        counts_[i] = parts_[i]->CountDevices();
        total += counts_[i];
    }
    return total;
}

CombinedInputService::Route CombinedInputService::Find(std::size_t device) const {
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        if (device < counts_[i]) return {parts_[i].get(), device};
        device -= counts_[i];
    }
    return {nullptr, 0};
}

std::string CombinedInputService::DeviceName(std::size_t device) {
    const Route route = Find(device);
    if (!route.service) throw kelvane::Failure(NoSourceText(device));
    return route.service->DeviceName(route.device);
}

InputOpenResult CombinedInputService::Open(std::size_t device, ByteReceiver receiver) {
    const Route route = Find(device);
    if (!route.service) return {NoSuchDevice, NoSourceText(device), nullptr};
    return route.service->Open(route.device, std::move(receiver));
}

}  // namespace midi

namespace midi {

std::string CombinedInputService::UnansweredText() const {
    std::string text;
    for (const auto& part : parts_) {
        const std::string unanswered = part->UnansweredText();
        if (!unanswered.empty()) text += (text.empty() ? "" : "\n") + unanswered;
    }
    return text;
}

}  // namespace midi
