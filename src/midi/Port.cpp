#include "midi/Port.h"

#include <algorithm>
#include <span>

#include "common/Failure.h"
#include "common/Utf8.h"

namespace midi {

std::uint8_t DeviceCount = 0;
std::int32_t OutDeviceIndex = 0;
std::unique_ptr<OutputPort> MidiOutHandle;

namespace {

std::unique_ptr<OutputService>& InstalledService() {
    static std::unique_ptr<OutputService> service;
    return service;
}

}  // namespace

void InstallOutputService(std::unique_ptr<OutputService> service) {
    MidiOutHandle.reset();
    InstalledService() = std::move(service);
}

OutputService& CurrentOutputService() {
    auto& service = InstalledService();
    if (!service) service = MakePlatformOutputService();
    return *service;
}

std::uint8_t ListedDeviceCount(std::size_t reported) {
    return static_cast<std::uint8_t>(std::min(reported, MaxListedDevices));
}

std::string EntryText(std::string_view name) {
    name = name.substr(0, name.find('\0'));
    std::size_t chars = 0;
    for (std::size_t at = 0; at < name.size(); ++chars) {
        if (chars == MaxEntryChars) return std::string(name.substr(0, at));
        // A byte that starts no character shows as one replacement character, so it counts as one.
        at += std::max<std::size_t>(kelvane::DecodeUtf8(name, at).length, 1);
    }
    return std::string(name);
}

std::string UnreadableEntryText(std::size_t device) {
    return "(名前を読めないデバイス " + std::to_string(device) + ")";
}

std::vector<std::string> ReadPortEntries() {
    OutputService& service = CurrentOutputService();
    DeviceCount = ListedDeviceCount(service.CountDevices());
    std::vector<std::string> entries;
    entries.reserve(DeviceCount + 1u);
    entries.emplace_back(NoPortEntry);
    for (std::size_t device = 0; device < DeviceCount; ++device) {
        try {
            entries.push_back(EntryText(service.DeviceName(device)));
        } catch (const kelvane::Failure&) {
            entries.push_back(UnreadableEntryText(device));
        }
    }
    return entries;
}

int OpenPortIndex(std::int32_t p) {
    MidiOutHandle.reset();
    if (p == 0) return 0;
    if (p < 0 || p > DeviceCount) return NoSuchDevice;
    OpenResult result = CurrentOutputService().Open(static_cast<std::size_t>(p - 1));
    if (result.code == 0 && !result.port) return NoSuchDevice;
    MidiOutHandle = std::move(result.port);
    return result.code;
}

int StartPort(std::uint8_t rememberedIndex) {
    OutDeviceIndex = rememberedIndex;
    return OpenPortIndex(OutDeviceIndex);
}

int ChangePort(std::int32_t chosenEntry) {
    OutDeviceIndex = chosenEntry;
    return OpenPortIndex(OutDeviceIndex);
}

void SendOnOpenPort(const std::uint8_t* bytes, std::int32_t lastIndex) {
    if (!MidiOutHandle || !bytes || lastIndex < 0) return;
    MidiOutHandle->Send(std::span(bytes, static_cast<std::size_t>(lastIndex) + 1));
}

void ResetPortStateForTests() {
    MidiOutHandle.reset();
    InstalledService().reset();
    DeviceCount = 0;
    OutDeviceIndex = 0;
}

}  // namespace midi
