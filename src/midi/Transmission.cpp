#include "midi/Transmission.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <limits>

#include "common/Failure.h"

namespace midi {

namespace {

constexpr std::uint8_t EndOfExclusive = 0xF7;
// The finest step of the plan: a chunk takes at most this long at the chosen rate.
constexpr std::int64_t ChunkMs = 50;
constexpr std::size_t MinChunkBytes = 16;
// A plan point missed by more than this (a port that fell behind, a process that was stopped)
// moves the rest of the plan back; a thread that merely woke a little late catches up instead,
// so that such delays never add up.
constexpr auto LateSlack = std::chrono::milliseconds(20);
// How often a full or finishing port is looked at again.
constexpr auto PortPoll = std::chrono::milliseconds(5);
// How often the port is looked at while the plan waits: a port that failed (a message it could
// not take, a server that went away) ends the send within this, not at the end of the plan,
// which at a slow speed may be an hour away.
constexpr auto WatchInterval = std::chrono::milliseconds(50);

constexpr char StallText[] = "送信先のポートがデータを受け取りません";

int ClampedSpeed(int percent) {
    if (percent == midi::FastestSpeed) return percent;
    return std::clamp(percent, midi::MinSpeedPercent, midi::MaxSpeedPercent);
}

class SteadyClock final : public TransmissionClock {
public:
    TimePoint Now() override { return std::chrono::steady_clock::now(); }
    void WaitUntil(TimePoint deadline, const std::atomic<bool>& interrupt) override {
        std::unique_lock lock(mutex_);
        woken_.wait_until(lock, deadline, [&] { return interrupt.load(std::memory_order_acquire); });
    }
    // Taking the mutex orders the wake after a waiter's look at the flag: none is lost.
    void Wake() override {
        { std::lock_guard lock(mutex_); }
        woken_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable woken_;
};

}  // namespace

std::chrono::nanoseconds PacedTime(std::uint64_t bytes, int speedPercent) {
    // 320 µs a byte at the full rate; exact in nanoseconds for every whole percentage that
    // divides 32,000,000.
    const int speed = ClampedSpeed(speedPercent);
    if (speed == midi::FastestSpeed) return std::chrono::nanoseconds(0);
    return std::chrono::nanoseconds(static_cast<std::int64_t>(bytes) * 32'000'000 / speed);
}

std::size_t ChunkBytes(int speedPercent) {
    if (ClampedSpeed(speedPercent) == midi::FastestSpeed) return MaxChunkBytes;
    const std::size_t perChunk =
        static_cast<std::size_t>(CableBytesPerSecond * ClampedSpeed(speedPercent) * ChunkMs / (100 * 1000));
    return std::clamp<std::size_t>(perChunk, MinChunkBytes, MaxChunkBytes);
}

std::chrono::nanoseconds PlannedTime(const std::vector<std::vector<std::uint8_t>>& messages, const Pace& pace) {
    std::uint64_t bytes = 0;
    for (const auto& message : messages) bytes += message.size();
    const auto pauses = messages.empty() ? 0 : messages.size() - 1;
    return PacedTime(bytes, pace.speedPercent) +
           std::chrono::milliseconds(pace.pauseMs) * static_cast<std::int64_t>(pauses);
}

std::unique_ptr<TransmissionClock> MakeSteadyTransmissionClock() { return std::make_unique<SteadyClock>(); }

Transmission::Transmission(std::vector<std::vector<std::uint8_t>> messages, Pace pace,
                           std::unique_ptr<TransmissionClock> clock)
    : messages_(std::move(messages)), pace_(pace), clock_(std::move(clock)) {
    pace_.speedPercent = ClampedSpeed(pace_.speedPercent);
    progress_.messagesTotal = messages_.size();
    for (const auto& message : messages_) progress_.bytesTotal += message.size();
    progress_.timeLeft = std::chrono::ceil<std::chrono::milliseconds>(PlannedTime(messages_, pace_));
}

void Transmission::Cancel() {
    cancelled_.store(true, std::memory_order_release);
    clock_->Wake();
}

TransmissionProgress Transmission::Progress() const {
    std::lock_guard lock(progressMutex_);
    TransmissionProgress now = progress_;
    if (started_ && !now.finished) {
        const auto at = clock_->Now();
        auto left = plannedEnd_ - at;
        // Without a planned rate, the bytes left take as long as the port has needed so far.
        if (pace_.speedPercent == midi::FastestSpeed && now.bytesDone > 0) {
            left += std::chrono::duration_cast<TransmissionClock::TimePoint::duration>(
                std::chrono::duration<double>(at - startedAt_) * static_cast<double>(now.bytesTotal - now.bytesDone) /
                static_cast<double>(now.bytesDone));
        }
        now.timeLeft = std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(left));
    }
    return now;
}

void Transmission::Report(std::size_t messagesDone, std::uint64_t bytesDone) {
    std::lock_guard lock(progressMutex_);
    progress_.messagesDone = messagesDone;
    progress_.bytesDone = bytesDone;
}

TransmissionOutcome Transmission::Run(OutputPort& port) {
    const auto start = clock_->Now();
    TransmissionOutcome outcome;
    try {
        outcome = Send(port);
    } catch (const std::exception& error) {
        // Only what the port had passed on before anything failed is known to be whole.
        outcome.messagesWhole = ConfirmedMessages();
        outcome.bytes = Progress().bytesDone;
        outcome.cancelled = CancelRequested();
        outcome.error = error.what();
        if (outcome.error.empty()) outcome.error = StallText;
    }
    outcome.messagesInDoubt.assign(inDoubt_.begin(), inDoubt_.end());
    outcome.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(clock_->Now() - start);
    std::lock_guard lock(progressMutex_);
    progress_.finished = true;
    progress_.timeLeft = std::chrono::milliseconds(0);
    return outcome;
}

bool Transmission::WaitFor(OutputPort& port, const PortStatus& start, TransmissionClock::TimePoint due) {
    while (!CancelRequested() && clock_->Now() < due) {
        clock_->WaitUntil(std::min(due, clock_->Now() + WatchInterval), cancelled_);
        CheckPort(port, start);
    }
    return !CancelRequested();
}

void Transmission::Confirm(const PortStatus& now, const PortStatus& start) {
    // A doubt names a chunk by its place among everything the port was handed.
    for (doubtsSeen_ = std::max(doubtsSeen_, start.inDoubt.size()); doubtsSeen_ < now.inDoubt.size(); ++doubtsSeen_) {
        const std::uint64_t number = now.inDoubt[doubtsSeen_];
        if (number < start.handedOver) continue;
        const std::uint64_t chunk = number - start.handedOver;
        inDoubt_.insert(static_cast<std::size_t>(
            std::upper_bound(messageEnds_.begin(), messageEnds_.end(), chunk) - messageEnds_.begin()));
    }
    if (now.failed > start.failed) throw kelvane::Failure(now.lastError.empty() ? StallText : now.lastError);
    confirmedChunks_ = now.sent - start.sent;
    // The port passes chunks on in the order it got them.
    while (!unconfirmed_.empty() && handedChunks_ - unconfirmed_.size() < confirmedChunks_) {
        unconfirmedBytes_ -= unconfirmed_.front();
        confirmedBytes_ += unconfirmed_.front();
        unconfirmed_.pop_front();
    }
}

std::size_t Transmission::ConfirmedMessages() const {
    return static_cast<std::size_t>(
        std::upper_bound(messageEnds_.begin(), messageEnds_.end(), confirmedChunks_) - messageEnds_.begin());
}

void Transmission::CheckPort(OutputPort& port, const PortStatus& start) { Confirm(port.Status(), start); }

// At the fastest speed the port may hold what it has passed on in MaxBacklogTime so far, so that
// a program's port is kept busy while a cable's is not given minutes of bytes a cancel cannot
// take back.
std::uint64_t Transmission::BacklogLimit() const {
    if (pace_.speedPercent != midi::FastestSpeed) return backlogLimit_;
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(clock_->Now() - sendStart_);
    std::uint64_t shown = 0;
    if (elapsed.count() > 0) {
        shown = static_cast<std::uint64_t>(static_cast<double>(confirmedBytes_) *
                                           static_cast<double>(std::chrono::microseconds(MaxBacklogTime).count()) /
                                           static_cast<double>(elapsed.count()));
    }
    return std::max(FirstFastestBacklog, shown);
}

// A port confirms a message only once all of it is out, and a message to a program goes whole:
// one of many megabytes takes a while however fast the port is. So besides StallLimit the port
// gets what it holds unconfirmed at the cable's rate, the slowest any port is meant to take.
// (A port that takes nothing at all fails by itself sooner: its sink watches its own progress.)
std::chrono::nanoseconds Transmission::PortAllowance() const {
    return std::chrono::nanoseconds(StallLimit) + PacedTime(unconfirmedBytes_, 100);
}

// A port that has fallen behind (a driver that takes longer than the cable) gets no more until
// it catches up, so a cancel never waits for a long queue.
void Transmission::WaitForRoom(OutputPort& port, const PortStatus& start, std::size_t nextBytes) {
    auto deadline = clock_->Now() + PortAllowance();
    std::uint64_t passed = confirmedChunks_;
    for (;;) {
        Confirm(port.Status(), start);
        if (unconfirmed_.empty() || unconfirmedBytes_ + nextBytes <= BacklogLimit() || CancelRequested()) {
            return;
        }
        if (confirmedChunks_ != passed) {
            passed = confirmedChunks_;
            deadline = clock_->Now() + PortAllowance();
        } else if (clock_->Now() >= deadline) {
            throw kelvane::Failure(StallText);
        }
        clock_->WaitUntil(clock_->Now() + PortPoll, cancelled_);
    }
}

void Transmission::Hand(OutputPort& port, std::span<const std::uint8_t> chunk) {
    port.Send(chunk);
    unconfirmed_.push_back(chunk.size());
    unconfirmedBytes_ += chunk.size();
    ++handedChunks_;
}

// Until the port has passed on every chunk (not cut short by a cancel: the F7 must go too).
void Transmission::WaitForPort(OutputPort& port, const PortStatus& start, std::uint64_t handed) {
    const auto deadline = clock_->Now() + (CancelRequested() ? std::chrono::nanoseconds(CancelledPortLimit) : PortAllowance());
    for (;;) {
        const PortStatus now = port.Status();
        Confirm(now, start);
        if ((now.sent - start.sent) >= handed) return;
        if (clock_->Now() >= deadline) throw kelvane::Failure(StallText);
        // Also after a cancel: the F7 that closes a cut message must go out too.
        clock_->WaitUntil(clock_->Now() + PortPoll, never_);
    }
}

TransmissionOutcome Transmission::Send(OutputPort& port) {
    const PortStatus startStatus = port.Status();
    auto planStart = clock_->Now();
    sendStart_ = planStart;
    // A program reads one event as one message; only a cable needs the pace inside a message.
    const std::size_t chunkLimit = port.LeadsToCable() ? ChunkBytes(pace_.speedPercent) : std::numeric_limits<std::size_t>::max();
    backlogLimit_ = std::max<std::uint64_t>(
        MinBacklogChunks * ChunkBytes(pace_.speedPercent),
        static_cast<std::uint64_t>(CableBytesPerSecond) * static_cast<std::uint64_t>(pace_.speedPercent) *
            static_cast<std::uint64_t>(MaxBacklogTime.count()) / (100 * 1000));
    {
        std::lock_guard lock(progressMutex_);
        started_ = true;
        startedAt_ = planStart;
        plannedEnd_ = planStart + std::chrono::ceil<std::chrono::steady_clock::duration>(PlannedTime(messages_, pace_));
    }

    TransmissionOutcome outcome;
    std::uint64_t bytesBefore = 0;  // handed over so far, by the plan
    bool cutShort = false;
    for (std::size_t m = 0; m < messages_.size() && !cutShort; ++m) {
        const std::span<const std::uint8_t> message(messages_[m]);
        for (std::size_t at = 0; at < message.size(); at += chunkLimit) {
            const auto due = planStart + std::chrono::ceil<std::chrono::steady_clock::duration>(
                                             PacedTime(bytesBefore, pace_.speedPercent) +
                                             std::chrono::milliseconds(pace_.pauseMs) * static_cast<std::int64_t>(m));
            const auto chunk = message.subspan(at, std::min(chunkLimit, message.size() - at));
            if (WaitFor(port, startStatus, due)) WaitForRoom(port, startStatus, chunk.size());
            if (CancelRequested()) {
                if (at > 0) {
                    // Cut inside the message: end it so the device does not wait for the rest.
                    const std::uint8_t end[] = {EndOfExclusive};
                    Hand(port, end);
                    ++outcome.bytes;
                }
                cutShort = true;
                break;
            }
            const auto late = clock_->Now() - due;
            if (late > LateSlack) {
                planStart += late;
                std::lock_guard lock(progressMutex_);
                plannedEnd_ += late;
            }
            Hand(port, chunk);
            bytesBefore += chunk.size();
            outcome.bytes += chunk.size();
            Report(outcome.messagesWhole, bytesBefore);
            CheckPort(port, startStatus);
        }
        if (!cutShort) {
            messageEnds_.push_back(handedChunks_);
            ++outcome.messagesWhole;
            Report(outcome.messagesWhole, bytesBefore);
        }
    }
    if (!cutShort) {
        // The last byte's own time at the chosen rate, so that the device has it before the end.
        WaitFor(port, startStatus, planStart + std::chrono::ceil<std::chrono::steady_clock::duration>(
                                PacedTime(bytesBefore, pace_.speedPercent) +
                                std::chrono::milliseconds(pace_.pauseMs) *
                                    static_cast<std::int64_t>(messages_.empty() ? 0 : messages_.size() - 1)));
    }
    outcome.cancelled = CancelRequested() && (cutShort || outcome.messagesWhole < messages_.size());
    WaitForPort(port, startStatus, handedChunks_);
    return outcome;
}

}  // namespace midi
