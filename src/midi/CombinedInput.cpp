#include "midi/CombinedInput.h"

#include "common/Failure.h"

namespace midi {

namespace {
std::string NoSourceText(std::size_t device) {
    return "MIDI 入力デバイス " + std::to_string(device) + " はありません";
}
}  // namespace

CombinedInputService::CombinedInputService(std::vector<std::unique_ptr<InputService>> parts)
    : parts_(std::move(parts)) {}

std::size_t CombinedInputService::CountDevices() { return parts_.Count(); }

std::string CombinedInputService::DeviceName(std::size_t device) {
    const auto route = parts_.Find(device);
    if (!route.service) throw kelvane::Failure(NoSourceText(device));
    return route.service->DeviceName(route.device);
}

InputOpenResult CombinedInputService::Open(std::size_t device, ByteReceiver receiver) {
    const auto route = parts_.Find(device);
    if (!route.service) return {NoSuchDevice, NoSourceText(device), nullptr};
    return route.service->Open(route.device, std::move(receiver));
}

std::string CombinedInputService::UnansweredText() const { return parts_.UnansweredText(); }

}  // namespace midi
