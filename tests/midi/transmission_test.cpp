// The transmission engine's plan and cancel on a made-up clock: what reaches the port, when,
// and what the outcome says, for ports that lead to a cable and ports that lead to a program.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "midi/Transmission.h"

namespace {

using namespace std::chrono;
using Bytes = std::vector<std::uint8_t>;

Bytes Message(std::size_t size) {
    Bytes message(size, 0x11);
    message.front() = 0xF0;
    message.back() = 0xF7;
    return message;
}

// Time moves only when the engine waits; a cancel can be set to come at a given moment.
class FakeClock final : public midi::TransmissionClock {
public:
    TimePoint Now() override { return now; }
    void WaitUntil(TimePoint deadline, const std::atomic<bool>& interrupt) override {
        if (interrupt.load()) return;
        if (cancelAt && start + *cancelAt <= deadline) {
            now = std::max(now, start + *cancelAt);
            cancelAt.reset();
            target->Cancel();
            return;
        }
        now = std::max(now, deadline);
    }
    void Wake() override {}

    TimePoint start = TimePoint{} + hours(1);
    TimePoint now = start;
    std::optional<microseconds> cancelAt;
    midi::Transmission* target = nullptr;
};

struct Handed {
    long long atUs;
    std::size_t size;
    std::uint8_t last;
    bool operator==(const Handed&) const = default;
};

// Passes every chunk on at once (or only from `confirmFrom` on, as a port that has stalled),
// or fails the chunk numbered `failAt` (from 1), as its status shows from `failSeenFrom` on (a
// port's thread finds out later).
class RecordingPort final : public midi::OutputPort {
public:
    explicit RecordingPort(FakeClock& clock) : clock_(clock) {}
    void Send(std::span<const std::uint8_t> chunk) override {
        handed.push_back({duration_cast<microseconds>(clock_.now - clock_.start).count(), chunk.size(), chunk.back()});
        ++status_.handedOver;
        if (status_.handedOver == failAt) {
            ++status_.failed;
            status_.lastError = "device refused";
        }
    }
    bool WaitUntilSent(milliseconds) override { return true; }
    bool LeadsToCable() const override { return !toProgram; }
    midi::PortStatus Status() const override {
        midi::PortStatus now = status_;
        now.sent = clock_.now >= clock_.start + confirmFrom ? now.handedOver - now.failed : 0;
        if (clock_.now < clock_.start + failSeenFrom && now.failed > 0) {
            --now.failed;  // still pending
            now.lastError.clear();
        }
        return now;
    }

    std::vector<Handed> handed;
    std::uint64_t failAt = 0;
    microseconds confirmFrom{0};
    microseconds failSeenFrom{0};
    bool toProgram = false;

private:
    FakeClock& clock_;
    midi::PortStatus status_;
};

struct Row {
    const char* name;
    std::vector<std::size_t> sizes;
    midi::Pace pace;
    std::optional<microseconds> cancelAt;
    std::uint64_t failAt;
    std::vector<Handed> handed;
    std::size_t whole;
    std::uint64_t bytes;
    bool cancelled;
    long long elapsedMs;
    bool failed;
    microseconds confirmFrom{0};
    bool toProgram = false;
    microseconds failSeenFrom{0};
};

TEST(Transmission, PlanAndCancelOnAMadeUpClock) {
    // At the full rate a byte takes 320 µs and a chunk holds 156 bytes (50 ms); at 25 %, 1,280 µs
    // and 39 bytes.
    const Row rows[] = {
        {"pause after each message but the last", {10, 10, 6}, {150, 100}, {}, 0,
         {{0, 10, 0xF7}, {153'200, 10, 0xF7}, {306'400, 6, 0xF7}}, 3, 26, false, 308, false},
        {"a long message goes in chunks at the rate", {400}, {150, 100}, {}, 0,
         {{0, 156, 0x11}, {49'920, 156, 0x11}, {99'840, 88, 0xF7}}, 1, 400, false, 128, false},
        {"a quarter of the rate: smaller chunks, four times the time", {100, 3}, {20, 25}, {}, 0,
         {{0, 39, 0x11}, {49'920, 39, 0x11}, {99'840, 22, 0xF7}, {148'000, 3, 0xF7}}, 2, 103, false, 151, false},
        {"a cancel inside a message closes it with F7", {400, 10}, {150, 100}, microseconds(60'000), 0,
         {{0, 156, 0x11}, {49'920, 156, 0x11}, {60'000, 1, 0xF7}}, 0, 313, true, 60, false},
        {"a cancel in a pause sends nothing more", {10, 10}, {150, 100}, microseconds(100'000), 0,
         {{0, 10, 0xF7}}, 1, 10, true, 100, false},
        {"a cancel after the last hand-over changes nothing", {10}, {150, 100}, microseconds(2'000), 0,
         {{0, 10, 0xF7}}, 1, 10, false, 2, false},
        {"a failing port ends it; only what went before counts", {10, 10, 10}, {0, 100}, {}, 2,
         {{0, 10, 0xF7}, {3'200, 10, 0xF7}}, 1, 20, false, 3, true},
        // 1,250 bytes (0.4 s at the rate) may wait in the port; the next chunk waits for room, and
        // the plan moves back by what the port held it up, so the rest keeps its spacing.
        {"a port that passes nothing on holds the rest back", {2000}, {0, 100}, {}, 0,
         {{0, 156, 0x11}, {49'920, 156, 0x11}, {99'840, 156, 0x11}, {149'760, 156, 0x11}, {199'680, 156, 0x11},
          {249'600, 156, 0x11}, {299'520, 156, 0x11}, {349'440, 156, 0x11}, {1'004'360, 156, 0x11},
          {1'054'280, 156, 0x11}, {1'104'200, 156, 0x11}, {1'154'120, 156, 0x11}, {1'204'040, 128, 0xF7}},
         1, 2000, false, 1245, false, microseconds(1'000'000)},
        // A program reads one event as one message: the rate is kept by spacing whole messages.
        {"to a program each message goes whole, spaced at the rate", {400, 10}, {150, 100}, {}, 0,
         {{0, 400, 0xF7}, {278'000, 10, 0xF7}}, 2, 410, false, 281, false, {}, true},
        {"twice the cable's rate: chunks of at most 256 bytes, half the time", {400}, {0, 200}, {}, 0,
         {{0, 256, 0x11}, {40'960, 144, 0xF7}}, 1, 400, false, 64, false},
        {"the fastest plans only the pauses", {10, 300}, {150, midi::FastestSpeed}, {}, 0,
         {{0, 10, 0xF7}, {150'000, 256, 0x11}, {150'000, 44, 0xF7}}, 2, 310, false, 150, false},
        // Until the port has passed something on, 4 KiB may wait in it.
        {"the fastest to a port that passes nothing on holds the rest back", {4500}, {0, midi::FastestSpeed}, {}, 0,
         {{0, 256, 0x11}, {0, 256, 0x11}, {0, 256, 0x11}, {0, 256, 0x11}, {0, 256, 0x11}, {0, 256, 0x11},
          {0, 256, 0x11}, {0, 256, 0x11}, {0, 256, 0x11}, {0, 256, 0x11}, {0, 256, 0x11}, {0, 256, 0x11},
          {0, 256, 0x11}, {0, 256, 0x11}, {0, 256, 0x11}, {0, 256, 0x11}, {1'000'000, 256, 0x11},
          {1'000'000, 148, 0xF7}},
         1, 4500, false, 1000, false, microseconds(1'000'000)},
        // 31,250 bytes take 10 s at the rate; the port finds out 120 ms in that it cannot take them.
        {"a port that fails during the planned time ends the send at once", {31250}, {0, 100}, {}, 1,
         {{0, 31250, 0xF7}}, 0, 31250, false, 150, true, {}, true, microseconds(120'000)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<Bytes> messages;
        for (const std::size_t size : row.sizes) messages.push_back(Message(size));
        auto clock = std::make_unique<FakeClock>();
        FakeClock& time = *clock;
        time.cancelAt = row.cancelAt;
        midi::Transmission transmission(messages, row.pace, std::move(clock));
        time.target = &transmission;
        RecordingPort port(time);
        port.failAt = row.failAt;
        port.confirmFrom = row.confirmFrom;
        port.toProgram = row.toProgram;
        port.failSeenFrom = row.failSeenFrom;
        // Before the start the time left is the whole plan.
        EXPECT_EQ(transmission.Progress().timeLeft, ceil<milliseconds>(midi::PlannedTime(messages, row.pace)));

        const midi::TransmissionOutcome outcome = transmission.Run(port);

        EXPECT_EQ(port.handed, row.handed);
        EXPECT_EQ(outcome.messagesWhole, row.whole);
        EXPECT_EQ(outcome.bytes, row.bytes);
        EXPECT_EQ(outcome.cancelled, row.cancelled);
        EXPECT_EQ(outcome.elapsed.count(), row.elapsedMs);
        EXPECT_EQ(!outcome.error.empty(), row.failed) << outcome.error;
        EXPECT_TRUE(transmission.Progress().finished);
    }
}

}  // namespace
