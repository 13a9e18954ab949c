#pragma once
// Sending a list of messages at a pace a device takes: the one sender behind the window's send
// dialog and `kelvane-cli send`.
//
// Older instruments drop data that comes back to back or faster than their input buffer
// drains, so the messages go out at a chosen share of the MIDI cable's rate (3,125 bytes a
// second), also inside a message: to a port that leads to a cable it is handed in chunks of at
// most 50 ms at that rate (never more than 256 bytes), each at its planned time. A port that
// leads to a program (OutputPort::LeadsToCable) gets each message whole at the time of its
// first byte, so that the program reads one message as one; the spacing of whole messages keeps
// the rate. After each message but the last comes a pause. The plan is absolute from the start,
// so waking late never adds up; a port that falls behind moves the rest of the plan back rather
// than getting a burst.
//
// At the fastest speed (midi::FastestSpeed) only the pauses are planned: the bytes go as
// fast as the port passes them on, and what it may hold not yet passed on follows the rate it
// has shown so far.
//
// Cancel stops handing chunks at once. A message cut short is closed with F7, so that the
// device ends it instead of waiting for more; the outcome counts only the messages that went
// out whole. Then the port gets a bounded time to pass on what it holds.
//
// Time comes through TransmissionClock, so the plan and cancel can be followed on a made-up
// clock; the real one sleeps on a condition variable, so pacing costs no processor time.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "midi/Pace.h"
#include "midi/OutputService.h"

namespace midi {

inline constexpr int CableBytesPerSecond = 3125;
inline constexpr int MaxChunkBytes = 256;

// How long `bytes` take at `speedPercent` of the cable's rate; nothing at the fastest speed.
std::chrono::nanoseconds PacedTime(std::uint64_t bytes, int speedPercent);

// The largest chunk handed to the port at once at `speedPercent`.
std::size_t ChunkBytes(int speedPercent);

// The whole plan: every byte at the chosen rate plus the pauses between messages.
std::chrono::nanoseconds PlannedTime(const std::vector<std::vector<std::uint8_t>>& messages, const Pace& pace);

struct TransmissionProgress {
    std::size_t messagesDone = 0;  // handed over whole
    std::size_t messagesTotal = 0;
    std::uint64_t bytesDone = 0;
    std::uint64_t bytesTotal = 0;
    std::chrono::milliseconds timeLeft{0};  // by the plan
    bool finished = false;                  // Run has returned
};

struct TransmissionOutcome {
    std::size_t messagesWhole = 0;  // sent whole before a cancel or a failure
    std::uint64_t bytes = 0;        // handed to the port, a closing F7 included
    std::chrono::milliseconds elapsed{0};
    bool cancelled = false;
    std::string error;  // why the port failed (UTF-8, for the user); empty otherwise
    // Messages (places in the list, from 0, ascending) that the port passed on while it missed
    // cycles of its sound server (PortStatus::inDoubt): they may not have arrived, or not whole,
    // and are worth sending again.
    std::vector<std::size_t> messagesInDoubt;
};

// The engine's time. Now and WaitUntil are called from the sending thread (and Now from
// Progress); Wake from any thread.
class TransmissionClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~TransmissionClock() = default;
    virtual TimePoint Now() = 0;
    // Returns at `deadline`, or early once `interrupt` is true: whoever sets it calls Wake after.
    virtual void WaitUntil(TimePoint deadline, const std::atomic<bool>& interrupt) = 0;
    virtual void Wake() = 0;
};

std::unique_ptr<TransmissionClock> MakeSteadyTransmissionClock();

class Transmission {
public:
    // How long a port may take nothing (or hold on to what it has at the end) before the
    // transmission gives up on it.
    static constexpr std::chrono::seconds StallLimit{10};
    // After a cancel the port gets less: whoever cancelled wants to be done, whatever the device.
    static constexpr std::chrono::seconds CancelledPortLimit{2};
    // What a port may hold not yet passed on before the next chunk waits: this long at the chosen
    // rate (a sound server confirms only once a period), or four chunks if that is more. It
    // bounds what still goes out after a cancel.
    static constexpr std::chrono::milliseconds MaxBacklogTime{400};
    static constexpr std::size_t MinBacklogChunks = 4;
    // At the fastest speed a port that passed nothing on yet may hold this much.
    static constexpr std::uint64_t FirstFastestBacklog = 4096;

    Transmission(std::vector<std::vector<std::uint8_t>> messages, Pace pace,
                 std::unique_ptr<TransmissionClock> clock = MakeSteadyTransmissionClock());

    // Sends everything on `port`, which nobody else sends on meanwhile. Once per object, on one
    // thread; never throws.
    TransmissionOutcome Run(OutputPort& port);

    // From any thread, also before Run or after it.
    void Cancel();
    bool CancelRequested() const { return cancelled_.load(std::memory_order_acquire); }
    TransmissionProgress Progress() const;

private:
    TransmissionOutcome Send(OutputPort& port);
    bool WaitFor(OutputPort& port, const PortStatus& start, TransmissionClock::TimePoint due);
    void WaitForRoom(OutputPort& port, const PortStatus& start, std::size_t nextBytes);
    void Hand(OutputPort& port, std::span<const std::uint8_t> chunk);
    void WaitForPort(OutputPort& port, const PortStatus& start, std::uint64_t handed);
    void CheckPort(OutputPort& port, const PortStatus& start);
    void Report(std::size_t messagesDone, std::uint64_t bytesDone);
    void Confirm(const PortStatus& now, const PortStatus& start);
    std::uint64_t BacklogLimit() const;
    std::chrono::nanoseconds PortAllowance() const;
    std::size_t ConfirmedMessages() const;

    std::vector<std::vector<std::uint8_t>> messages_;
    Pace pace_;
    std::unique_ptr<TransmissionClock> clock_;
    std::atomic<bool> cancelled_{false};
    const std::atomic<bool> never_{false};
    // Sending thread only: the chunk count at the end of each message handed over, and how many
    // chunks the port had passed on at the last look that found no failure.
    std::vector<std::uint64_t> messageEnds_;
    std::uint64_t confirmedChunks_ = 0;
    // The port's doubts looked at so far, and the messages they name.
    std::size_t doubtsSeen_ = 0;
    std::set<std::size_t> inDoubt_;
    // Sizes of the chunks handed over and not yet passed on, oldest first, and their sum.
    std::deque<std::size_t> unconfirmed_;
    std::uint64_t unconfirmedBytes_ = 0;
    std::uint64_t confirmedBytes_ = 0;
    TransmissionClock::TimePoint sendStart_{};
    std::uint64_t handedChunks_ = 0;
    std::uint64_t backlogLimit_ = 0;

    mutable std::mutex progressMutex_;
    TransmissionProgress progress_;           // guarded by progressMutex_
    TransmissionClock::TimePoint plannedEnd_{};  // guarded by progressMutex_
    TransmissionClock::TimePoint startedAt_{};   // guarded by progressMutex_
    bool started_ = false;                    // guarded by progressMutex_
};

}  // namespace midi
