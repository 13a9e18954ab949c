#pragma once
// Collecting the messages of one reception: bytes from an input go through the dump scanner
// with the wire rules into slots of the reception's own, and only when the user stops do they
// replace the store, exactly as a load does.
//
// Threading: Feed runs on the input's thread, one call at a time. Now may be called from any
// thread at any time and never waits. MoveIntoStore runs on the store's thread (the window's)
// once the input is closed, so that no Feed can run any more.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>

#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace sysex {

class Reception {
public:
    using Clock = std::chrono::steady_clock;

    Reception();
    ~Reception();
    Reception(const Reception&) = delete;
    Reception& operator=(const Reception&) = delete;

    // The input's thread: scans the bytes as they come.
    void Feed(std::span<const std::uint8_t> bytes);

    struct Progress {
        std::int32_t messages = 0;   // complete messages kept so far
        std::uint64_t bytes = 0;     // every byte received, whatever it was
        bool full = false;           // the slots are full; further messages are dropped
        // When the last byte other than a real-time byte came; real-time bytes (clock, active
        // sensing) keep coming from an idle device and say nothing about a dump.
        bool heard = false;          // such a byte has come at all
        Clock::time_point lastByteAt{};  // meaningful only when heard
    };
    Progress Now() const;

    // Ends the reception: the complete messages go to slots 0 .. n - 1 of the store and
    // SysExCount := n. A message still open is dropped as cut off. Call once, after the input
    // has been closed.
    ScanResult MoveIntoStore();

private:
    struct Slots;
    std::unique_ptr<Slots> slots_;
    DumpScanner scanner_;
    std::atomic<std::int32_t> messages_{0};
    std::atomic<std::uint64_t> bytes_{0};
    std::atomic<bool> full_{false};
    std::atomic<bool> heard_{false};
    std::atomic<Clock::rep> lastByteAt_{0};
};

// Whether a reception with this progress should stop by itself at `now`: once `idle` has
// passed since the last byte that was not a real-time byte (never before the first such byte;
// an idle time of zero means only by hand), once `count` messages are complete (0 = no such
// limit), or once the slots are full.
bool ReceptionDone(const Reception::Progress& progress, Reception::Clock::time_point now,
                   std::chrono::milliseconds idle, std::int32_t count);

}  // namespace sysex
