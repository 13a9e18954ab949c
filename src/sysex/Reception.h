#pragma once
// Collecting the messages of one reception: bytes from an input go through the dump scanner
// with the wire rules into a block and grown storage of the reception's own, and only when the
// user stops do they replace the store, exactly as a load does.
//
// Threading: Feed and Lose run on the input's thread, one call at a time. Now may be called
// from any thread at any time and never waits. MoveIntoStore runs on the store's thread (the
// window's) once the input is closed, so that no Feed can run any more.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sysex/Loader.h"
#include "sysex/Loss.h"
#include "sysex/Store.h"

namespace sysex {

// What the input reported lost, per cause: how often, and how many events or buffers when the
// backend could count them.
struct ReceptionLosses {
    std::array<std::uint32_t, LossCauseCount> times{};
    std::array<std::uint64_t, LossCauseCount> events{};

    bool Any() const {
        for (const std::uint32_t n : times) {
            if (n > 0) return true;
        }
        return false;
    }
    std::uint32_t Times(LossCause cause) const { return times[static_cast<std::size_t>(cause)]; }
    std::uint64_t Events(LossCause cause) const { return events[static_cast<std::size_t>(cause)]; }
};

// Everything the user is told once a reception is over.
struct ReceptionSummary {
    ScanResult scan;                 // what went into the store, and what was dropped and why
    std::uint64_t keptBytes = 0;     // the stored messages' bytes, F0 to F7
    std::uint64_t receivedBytes = 0; // SysEx bytes that arrived, kept or not
    ReceptionLosses losses;
    // Kept messages (indexes from 0) whose checksum does not match: a bridge that drops part of
    // a long message leaves it correctly framed but damaged. They are kept, and named.
    std::vector<std::size_t> wrongChecksums;
    // The source went away between two messages: the reception ended there, nothing lost.
    bool sourceLeft = false;

    // Whether anything that came, or should have come, is not in the store as it was sent.
    bool LostAnything() const { return losses.Any() || scan.droppedDamaged > 0; }
};

class Reception {
public:
    using Clock = std::chrono::steady_clock;

    // At most `keep` messages are kept (a reception asked for a number of them; 0: no such
    // limit); the others are counted as not kept.
    explicit Reception(std::int32_t keep = 0);
    ~Reception();
    Reception(const Reception&) = delete;
    Reception& operator=(const Reception&) = delete;

    // The input's thread: scans the bytes as they come.
    void Feed(std::span<const std::uint8_t> bytes);
    // The input's thread: bytes went missing at this point of the stream (the message open
    // now is dropped as damaged), or the source stopped. A source that stops between messages
    // has simply finished: that ends the reception without counting as a loss.
    void Lose(LossCause cause, std::uint32_t events);

    struct Progress {
        std::int32_t messages = 0;   // complete messages kept so far
        std::uint64_t bytes = 0;     // SysEx bytes received (real-time and other messages not counted)
        bool full = false;           // memory ran out; further messages are dropped
        bool lost = false;           // the input reported a loss
        bool ended = false;          // the source or its server has gone: nothing more will come
        // When the last byte other than a real-time byte came; real-time bytes (clock, active
        // sensing) keep coming from an idle device and say nothing about a dump.
        bool heard = false;          // such a byte has come at all
        Clock::time_point lastByteAt{};  // meaningful only when heard
    };
    Progress Now() const;

    // Ends the reception: the complete messages become messages 0 .. n - 1 of the store and
    // SysExCount := n; with no complete message the store is left as it was. A message still
    // open is dropped as cut off. Call once, after the input has been closed.
    ReceptionSummary MoveIntoStore();

private:
    void CountSysExBytes(std::span<const std::uint8_t> bytes);

    std::unique_ptr<OwnStore> slots_;
    DumpScanner scanner_;
    bool inSysEx_ = false;  // input's thread: the byte counter is inside a message
    ReceptionLosses losses_;  // input's thread until the input is closed
    bool sourceLeft_ = false;  // input's thread until the input is closed
    std::atomic<std::int32_t> messages_{0};
    std::atomic<std::uint64_t> bytes_{0};
    std::atomic<bool> full_{false};
    std::atomic<bool> lost_{false};
    std::atomic<bool> ended_{false};
    std::atomic<bool> heard_{false};
    std::atomic<Clock::rep> lastByteAt_{0};
};

// Whether a reception with this progress should stop by itself at `now`: once its source has
// gone, once `idle` has passed since the last byte that was not a real-time byte (never before
// the first such byte; an idle time of zero means only by hand), once `count` messages are
// complete (0 = no such limit), or once memory has run out.
bool ReceptionDone(const Reception::Progress& progress, Reception::Clock::time_point now,
                   std::chrono::milliseconds idle, std::int32_t count);

// The closing report, one sentence a line: what was kept ("20 メッセージ (4096 バイト) を記録し
// ました", or that nothing was received), then what was dropped or lost, and why.
std::string ReceptionSummaryText(const ReceptionSummary& summary);

// One sentence for one cause, as the summary and the command line's JSON name it.
std::string LossText(LossCause cause, std::uint32_t times, std::uint64_t events);
const char* LossCauseName(LossCause cause);  // "overflow", "overrun", ... for scripts

}  // namespace sysex
