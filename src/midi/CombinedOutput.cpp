#include "midi/CombinedOutput.h"

#include "common/Failure.h"

namespace midi {

CombinedOutputService::CombinedOutputService(std::vector<std::unique_ptr<OutputService>> parts)
    : parts_(std::move(parts)) {}

std::size_t CombinedOutputService::CountDevices() { return parts_.Count(); }

std::string CombinedOutputService::DeviceName(std::size_t device) {
    const auto route = parts_.Find(device);
    if (!route.service) {
        throw kelvane::Failure("MIDI 出力デバイス " + std::to_string(device) + " はありません");
    }
    return route.service->DeviceName(route.device);
}

OpenResult CombinedOutputService::Open(std::size_t device) {
    const auto route = parts_.Find(device);
    if (!route.service) {
        return {NoSuchDevice, "MIDI 出力デバイス " + std::to_string(device) + " はありません", nullptr};
    }
    return route.service->Open(route.device);
}

std::string CombinedOutputService::UnansweredText() const { return parts_.UnansweredText(); }

}  // namespace midi
