#include "midi/Input.h"

#include "common/Failure.h"
#include "midi/Port.h"

namespace midi {

namespace {

std::unique_ptr<InputService>& InstalledService() {
    static std::unique_ptr<InputService> service;
    return service;
}

std::uint8_t& ListedSources() {
    static std::uint8_t count = 0;
    return count;
}

}  // namespace

void InstallInputService(std::unique_ptr<InputService> service) { InstalledService() = std::move(service); }

InputService& CurrentInputService() {
    auto& service = InstalledService();
    if (!service) service = MakePlatformInputService();
    return *service;
}

std::vector<std::string> ReadInputEntries(EntryWidth width) {
    InputService& service = CurrentInputService();
    ListedSources() = ListedDeviceCount(service.CountDevices());
    std::vector<std::string> entries;
    entries.reserve(ListedSources() + 1u);
    entries.emplace_back(NoPortEntry);
    for (std::size_t device = 0; device < ListedSources(); ++device) {
        try {
            entries.push_back(EntryText(service.DeviceName(device), width));
        } catch (const kelvane::Failure&) {
            entries.push_back(UnreadableEntryText(device));
        }
    }
    return entries;
}

std::string InputListingGap() { return CurrentInputService().UnansweredText(); }

InputOpenResult OpenInputEntry(std::int32_t p, ByteReceiver receiver) {
    if (p < 1 || p > ListedSources()) {
        return {NoSuchDevice, "MIDI 入力デバイス " + std::to_string(p) + " はありません", nullptr};
    }
    InputOpenResult result = CurrentInputService().Open(static_cast<std::size_t>(p - 1), std::move(receiver));
    if (result.code == 0 && !result.port) result.code = NoSuchDevice;
    return result;
}

ByteReceiver ReceiverFor(sysex::Reception& reception) {
    return ByteReceiver([&reception](std::span<const std::uint8_t> bytes) { reception.Feed(bytes); },
                        [&reception](sysex::LossCause cause, std::uint32_t events) { reception.Lose(cause, events); });
}

void ResetInputStateForTests() {
    InstalledService().reset();
    ListedSources() = 0;
}

}  // namespace midi
