#include "sysex/Reception.h"

#include <algorithm>
#include <cstring>

namespace sysex {

// Allocated without being written, so a reception of a few small messages touches only the
// pages those messages need, not the 65 MB that a full store would.
struct Reception::Slots {
    std::uint8_t data[MaxSysEx][SlotSize];
    std::uint16_t lengths[MaxSysEx];
};

Reception::Reception()
    : slots_(new Slots), scanner_(ScanRules::Wire, SlotTarget{slots_->data, slots_->lengths}) {}

Reception::~Reception() = default;

void Reception::Feed(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    if (std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b < 0xF8; })) {
        lastByteAt_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
        heard_.store(true, std::memory_order_relaxed);
    }
    if (!scanner_.Feed(bytes.data(), bytes.size())) full_.store(true, std::memory_order_relaxed);
    messages_.store(scanner_.Stored(), std::memory_order_relaxed);
    bytes_.fetch_add(bytes.size(), std::memory_order_release);
}

Reception::Progress Reception::Now() const {
    Progress progress;
    progress.bytes = bytes_.load(std::memory_order_acquire);
    progress.messages = messages_.load(std::memory_order_relaxed);
    progress.full = full_.load(std::memory_order_relaxed);
    progress.heard = heard_.load(std::memory_order_relaxed);
    progress.lastByteAt = Clock::time_point(Clock::duration(lastByteAt_.load(std::memory_order_relaxed)));
    return progress;
}

ScanResult Reception::MoveIntoStore() {
    const ScanResult result = scanner_.Finish();
    for (std::int32_t k = 0; k < result.stored; ++k) {
        const std::uint16_t length = slots_->lengths[k];
        std::memcpy(SysExData[k], slots_->data[k], std::size_t{length} + 1);
        SysExLen[k] = length;
    }
    SysExCount = result.stored;
    return result;
}

bool ReceptionDone(const Reception::Progress& progress, Reception::Clock::time_point now,
                   std::chrono::milliseconds idle, std::int32_t count) {
    if (count > 0 && progress.messages >= count) return true;
    if (progress.full) return true;
    return idle.count() > 0 && progress.heard && now - progress.lastByteAt >= idle;
}

}  // namespace sysex
