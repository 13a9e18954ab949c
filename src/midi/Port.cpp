#include "midi/Port.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <mutex>
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

struct Listing {
    std::uint8_t deviceCount = 0;
    std::vector<std::string> entries;
    std::string gap;
};

std::string& OpenError() {
    static std::string error;
    return error;
}

std::string& ListingGap() {
    static std::string gap;
    return gap;
}

Listing ListEntries(OutputService& service, EntryWidth width = EntryWidth::Selector) {
    Listing listing;
    listing.deviceCount = ListedDeviceCount(service.CountDevices());
    listing.entries.reserve(listing.deviceCount + 1u);
    listing.entries.emplace_back(NoPortEntry);
    for (std::size_t device = 0; device < listing.deviceCount; ++device) {
        try {
            listing.entries.push_back(EntryText(service.DeviceName(device), width));
        } catch (const kelvane::Failure&) {
            listing.entries.push_back(UnreadableEntryText(device));
        }
    }
    listing.gap = service.UnansweredText();
    return listing;
}

// The listing StartReadingPortEntries began; not valid when none is under way.
std::future<Listing>& PendingListing() {
    static std::future<Listing> pending;
    return pending;
}

// A listing under way uses the service; it must end before the service goes.
void DropPendingListing() {
    auto& pending = PendingListing();
    if (pending.valid()) pending.wait();
    pending = {};
}

struct WaitingCallback {
    std::mutex mutex;
    std::function<void()> callback;
};

// Never destroyed: a backend's helper thread may still wait while the process exits.
WaitingCallback& Waiting() {
    static auto* waiting = new WaitingCallback;
    return *waiting;
}

}  // namespace

void SetWhileWaiting(std::function<void()> callback) {
    WaitingCallback& waiting = Waiting();
    std::lock_guard lock(waiting.mutex);
    waiting.callback = std::move(callback);
}

void WhileWaiting() {
    std::function<void()> callback;
    {
        WaitingCallback& waiting = Waiting();
        std::lock_guard lock(waiting.mutex);
        callback = waiting.callback;
    }
    if (callback) callback();
}

void InstallOutputService(std::unique_ptr<OutputService> service) {
    DropPendingListing();
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

std::string EntryText(std::string_view name, EntryWidth width) {
    name = name.substr(0, name.find('\0'));
    if (width == EntryWidth::Whole) return std::string(name);
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

void StartReadingPortEntries() {
    auto& pending = PendingListing();
    if (pending.valid()) return;
    // Even making the platform's service (loading its libraries' state) happens over there.
    // Whole names: a reader that shows them shorter cuts them itself.
    pending = std::async(std::launch::async, [] { return ListEntries(CurrentOutputService(), EntryWidth::Whole); });
}

std::vector<std::string> ReadPortEntries(EntryWidth width) {
    auto& pending = PendingListing();
    Listing listing;
    if (pending.valid()) {
        // A window that waits here still repaints, as it does while a backend waits.
        while (pending.wait_for(std::chrono::milliseconds(10)) == std::future_status::timeout) WhileWaiting();
        // get() leaves the future empty, so a later call lists afresh.
        listing = pending.get();
        for (std::string& entry : listing.entries) entry = EntryText(entry, width);
    } else {
        listing = ListEntries(CurrentOutputService(), width);
    }
    DeviceCount = listing.deviceCount;
    ListingGap() = std::move(listing.gap);
    return std::move(listing.entries);
}

std::string PortListingGap() { return ListingGap(); }

int OpenPortIndex(std::int32_t p) {
    MidiOutHandle.reset();
    OpenError().clear();
    if (p == 0) return 0;
    if (p < 0 || p > DeviceCount) {
        OpenError() = "出力ポート " + std::to_string(p) + " はありません";
        return NoSuchDevice;
    }
    OpenResult result = CurrentOutputService().Open(static_cast<std::size_t>(p - 1));
    if (result.code == 0 && !result.port) result.code = NoSuchDevice;
    if (result.code != 0) {
        OpenError() = result.error.empty() ? "エラー " + std::to_string(result.code) : result.error;
        return result.code;
    }
    MidiOutHandle = std::move(result.port);
    return 0;
}

std::string OpenPortError() { return OpenError(); }

int StartPort(std::int32_t rememberedEntry) {
    OutDeviceIndex = rememberedEntry;
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

int SendOnEntry(std::int32_t p, std::span<const std::uint8_t> message, std::string& error) {
    if (p == OutDeviceIndex && MidiOutHandle) {
        MidiOutHandle->Send(message);
        return 0;
    }
    if (p < 1 || p > DeviceCount) {
        error = "出力ポート " + std::to_string(p) + " はありません";
        return NoSuchDevice;
    }
    OpenResult result = CurrentOutputService().Open(static_cast<std::size_t>(p - 1));
    if (result.code == 0 && !result.port) result.code = NoSuchDevice;
    if (result.code != 0) {
        error = result.error;
        return result.code;
    }
    // Destroying the port returns at once; its thread still delivers the message whole.
    result.port->Send(message);
    return 0;
}

void ResetPortStateForTests() {
    DropPendingListing();
    MidiOutHandle.reset();
    InstalledService().reset();
    DeviceCount = 0;
    OutDeviceIndex = 0;
    ListingGap().clear();
    OpenError().clear();
}

}  // namespace midi
