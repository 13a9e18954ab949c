// kelvane_bench_midi_transmission: how closely a paced send keeps its plan through a real JACK
// server, what pacing costs, and how soon a cancel takes effect.
//
// Starts a JACK server of its own (dummy driver, 2,048-frame periods as the test fixture) and
// the recording receiver, opens the receiver through the JACK backend and sends with the
// transmission engine:
//   1. schedule accuracy: the time from the first to the last event at the receiver over the
//      time the plan puts between them, for 100 messages of 1 KiB and 10 of 64 KiB, at 100 % and
//      25 %, with pauses of 0 and 150 ms (target 1.00 to 1.02), and for messages of 6 bytes,
//      far shorter than a period, each with the shortest time from one message's start to the
//      next's against the plan;
//   2. processor time (user + system over wall time) while pacing one 64 KiB message at 25 %;
//   3. cancel latency: from Cancel to the last event at the receiver, in the middle of a 64 KiB
//      message, worst of 20.
// Without arguments it runs a subset of (1) that takes about eight minutes; "--full" runs every
// combination (about 41 minutes).
//
// "--fastest MIB [--cable]" instead sends MIB MiB (messages of 4,096 bytes, no pause) at the
// fastest speed and checks that the receiver got every byte; with --cable the same again at
// 100 %, which takes 5 min 35 s a MiB.

#include <jack/jack.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "JackProcesses.h"
#include "Messages.h"
#include "midi/Transmission.h"
#include "midi/jack/JackOutput.h"

namespace {

using Clock = std::chrono::steady_clock;
using Messages = std::vector<std::vector<std::uint8_t>>;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Messages Bank(std::size_t count, std::size_t size) {
    Messages messages;
    for (std::size_t i = 0; i < count; ++i) messages.push_back(testsupport::PatternMessage(size, static_cast<unsigned>(i + 1)));
    return messages;
}

// When the plan hands over the last chunk (the last message, to a program), counted from the first.
double PlannedSpanSeconds(const Messages& messages, const midi::Pace& pace, bool leadsToCable) {
    const std::size_t chunk = leadsToCable ? midi::ChunkBytes(pace.speedPercent) : messages.back().size();
    const std::size_t lastSize = messages.back().size();
    const std::size_t lastChunk = lastSize % chunk == 0 ? chunk : lastSize % chunk;
    std::uint64_t bytes = 0;
    for (const auto& message : messages) bytes += message.size();
    return std::chrono::duration<double>(midi::PacedTime(bytes - lastChunk, pace.speedPercent)).count() +
           static_cast<double>(pace.pauseMs) / 1000.0 * static_cast<double>(messages.size() - 1);
}

// The shortest time at the receiver from one message's first event to the next one's: what the
// command-line send of the default gap is expected to keep (its test checks only bytes and order).
double ShortestStartToStartMs(const std::vector<kelvane::testing::ReceivedEvent>& events, const Messages& messages) {
    std::vector<std::uint64_t> starts;
    std::size_t event = 0;
    for (const auto& message : messages) {
        if (event >= events.size()) break;
        starts.push_back(events[event].timeUs);
        std::size_t taken = 0;
        while (taken < message.size() && event < events.size()) taken += events[event++].size;
    }
    double shortest = 0;
    for (std::size_t i = 1; i < starts.size(); ++i) {
        const double gap = static_cast<double>(starts[i] - starts[i - 1]) / 1000.0;
        if (i == 1 || gap < shortest) shortest = gap;
    }
    return shortest;
}

class Bench {
public:
    Bench(kelvane::testing::JackReceiver& receiver, midi::OutputPort& port) : receiver_(receiver), port_(port) {}

    // The events the receiver has written down since the last call, once `bytes` more have come.
    std::vector<kelvane::testing::ReceivedEvent> NewEvents(std::uint64_t bytes) {
        received_ += bytes;
        receiver_.WaitForBytes(received_, std::chrono::seconds(30));
        auto events = receiver_.Events();
        std::vector<kelvane::testing::ReceivedEvent> fresh(events.begin() + static_cast<std::ptrdiff_t>(seen_), events.end());
        seen_ = events.size();
        return fresh;
    }

    void Accuracy(std::size_t count, std::size_t size, int percent, std::uint32_t pauseMs) {
        const Messages messages = Bank(count, size);
        const midi::Pace pace{pauseMs, percent};
        midi::Transmission transmission(messages, pace);
        const auto outcome = transmission.Run(port_);
        const auto events = NewEvents(outcome.bytes);
        if (!outcome.error.empty() || events.empty()) {
            std::printf("%3zu x %6zu B at %3d %%, pause %3u ms: FAILED %s\n", count, size, percent, pauseMs,
                        outcome.error.c_str());
            return;
        }
        const double measured = static_cast<double>(events.back().timeUs - events.front().timeUs) / 1e6;
        const double planned = PlannedSpanSeconds(messages, pace, port_.LeadsToCable());
        std::printf("%3zu x %6zu B at %3d %%, pause %3u ms: planned %8.3f s, measured %8.3f s, ratio %.4f, "
                    "shortest start-to-start %.1f ms (planned %.1f ms)\n",
                    count, size, percent, pauseMs, planned, measured, measured / planned,
                    ShortestStartToStartMs(events, messages),
                    std::chrono::duration<double, std::milli>(midi::PacedTime(size, percent)).count() + pauseMs);
        std::fflush(stdout);
    }

    void Cpu() {
        const Messages messages = Bank(1, 65536);
        midi::Transmission transmission(messages, {0, 25});
        const double cpu = CpuSeconds();
        const auto start = Clock::now();
        const auto outcome = transmission.Run(port_);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        const double used = CpuSeconds() - cpu;
        NewEvents(outcome.bytes);
        std::printf("pacing 65,536 B at 25 %%: wall %.2f s, user+sys %.3f s, %.2f %% of one core\n", wall, used,
                    100.0 * used / wall);
        std::fflush(stdout);
    }

    void CancelLatency(int runs) {
        std::vector<double> latencies;
        for (int i = 0; i < runs; ++i) {
            midi::Transmission transmission(Bank(1, 65536), {0, 100});
            std::thread canceller([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(700 + 37 * i));
                cancelledAtUs_ = jack_get_time();
                transmission.Cancel();
            });
            const auto outcome = transmission.Run(port_);
            canceller.join();
            const auto events = NewEvents(outcome.bytes);
            if (events.empty() || !outcome.cancelled) {
                std::printf("cancel run %d: nothing to measure\n", i);
                continue;
            }
            latencies.push_back(static_cast<double>(static_cast<std::int64_t>(events.back().timeUs) -
                                                    static_cast<std::int64_t>(cancelledAtUs_)) / 1000.0);
        }
        std::sort(latencies.begin(), latencies.end());
        if (latencies.empty()) return;
        std::printf("cancel to last byte at the receiver (%zu runs): median %.1f ms, worst %.1f ms\n", latencies.size(),
                    latencies[latencies.size() / 2], latencies.back());
    }

    // Every byte of `mib` MiB at `speed`, checked against what the receiver wrote down.
    void Bulk(std::size_t mib, int speed) {
        const Messages messages = Bank(mib * 256, 4096);
        std::vector<std::uint8_t> expected;
        for (const auto& message : messages) expected.insert(expected.end(), message.begin(), message.end());
        midi::Transmission transmission(messages, {0, speed});
        const double cpu = CpuSeconds();
        const auto start = Clock::now();
        const auto outcome = transmission.Run(port_);
        const double handed = std::chrono::duration<double>(Clock::now() - start).count();
        const double used = CpuSeconds() - cpu;
        const auto received = receiver_.WaitForBytes(received_ + expected.size(), std::chrono::seconds(60));
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        const bool exact = received.size() == received_ + expected.size() &&
                           std::equal(expected.begin(), expected.end(), received.begin() + static_cast<std::ptrdiff_t>(received_));
        received_ = received.size();
        seen_ = receiver_.Events().size();
        std::printf("%zu MiB in %zu messages at %s: run %.2f s, all received %.2f s (%.0f KiB/s), user+sys %.2f s, "
                    "%s, error \"%s\"\n",
                    mib, messages.size(), midi::SpeedText(speed).c_str(), handed, wall,
                    static_cast<double>(expected.size()) / 1024.0 / wall, used, exact ? "byte-exact" : "NOT byte-exact",
                    outcome.error.c_str());
        std::fflush(stdout);
    }

private:
    kelvane::testing::JackReceiver& receiver_;
    midi::OutputPort& port_;
    std::uint64_t received_ = 0;
    std::size_t seen_ = 0;
    jack_time_t cancelledAtUs_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace kelvane::testing;
    const bool full = argc > 1 && std::strcmp(argv[1], "--full") == 0;
    const std::string name = "kelvane-bench-tx-" + std::to_string(getpid());
    JackTestServer server(name);
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    JackReceiver receiver("kelvane-bench-tx-rx");
    auto service = midi::MakeJackOutputService();
    service->CountDevices();
    auto opened = service->Open(0);
    if (opened.code != 0) {
        std::fprintf(stderr, "open failed: %s\n", opened.error.c_str());
        return 1;
    }
    Bench bench(receiver, *opened.port);
    if (argc > 2 && std::strcmp(argv[1], "--fastest") == 0) {
        const auto mib = static_cast<std::size_t>(std::stoul(argv[2]));
        bench.Bulk(mib, midi::FastestSpeed);
        if (argc > 3 && std::strcmp(argv[3], "--cable") == 0) bench.Bulk(mib, 100);
        opened.port.reset();
        midi::WaitForClosedPorts(std::chrono::seconds(10));
        return 0;
    }

    // Messages far shorter than a period (42.7 ms): the pauses must not snap to period starts.
    bench.Accuracy(100, 6, 100, 0);
    bench.Accuracy(20, 6, 100, 150);
    if (full) {
        for (const auto& [count, size] : {std::pair<std::size_t, std::size_t>{100, 1024}, {10, 65536}}) {
            for (const int percent : {100, 25}) {
                for (const std::uint32_t pause : {0u, 150u}) bench.Accuracy(count, size, percent, pause);
            }
        }
    } else {
        bench.Accuracy(100, 1024, 100, 0);
        bench.Accuracy(100, 1024, 100, 150);
        bench.Accuracy(100, 1024, 25, 0);
        bench.Accuracy(2, 65536, 100, 150);
    }
    bench.Cpu();
    bench.CancelLatency(20);
    opened.port.reset();
    midi::WaitForClosedPorts(std::chrono::seconds(10));
    return 0;
}
