// How long the window's thread stays out of its event loop because of a JACK server that hangs.
// The main window runs with a 10 ms timer; on its thread, as the window and the receive dialog
// do, the probe opens a JACK output and input, then suspends the server (SIGSTOP) and closes
// both, lists both directions and tries to open both again: 20 attempts in all. It prints the
// largest gap between two timer ticks while the server is suspended, and the process's thread
// count before the attempts and after them. Should the window's thread itself hang, a watchdog
// resumes the server after WatchdogLimit and the figure says so. jack-freeze.sh starts the server
// and runs it:
//
//   bench/ui/jack-freeze.sh build/bench/ui/jack_freeze_probe [RUNS] [attempts]

#include <jack/jack.h>
#include <signal.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "midi/Input.h"
#include "midi/Port.h"
#include "ui/Form1.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto WatchdogLimit = std::chrono::seconds(60);

std::size_t ThreadCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) ++count;
    return count;
}

template <typename Entries>
std::int32_t EntryOf(const Entries& entries, const std::string& name) {
    const auto found = std::find(entries.begin(), entries.end(), name);
    if (found == entries.end()) {
        std::fprintf(stderr, "%s is not listed\n", name.c_str());
        std::exit(2);
    }
    return static_cast<std::int32_t>(found - entries.begin());
}

// The other side: a client with a MIDI input (for our output) and a MIDI output (for our input).
jack_client_t* StartPeer() {
    jack_status_t status{};
    jack_client_t* peer = jack_client_open("freeze-peer", JackNoStartServer, &status);
    if (!peer || !jack_port_register(peer, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0) ||
        !jack_port_register(peer, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0) || jack_activate(peer) != 0) {
        std::fprintf(stderr, "no JACK peer (is JACK_DEFAULT_SERVER running?)\n");
        std::exit(2);
    }
    return peer;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: jack_freeze_probe SERVER_PID [attempts]\n");
        return 2;
    }
    // "attempts": only the listings and opens, without closing first.
    const bool attemptsOnly = argc > 2 && std::string(argv[2]) == "attempts";
    const pid_t server = static_cast<pid_t>(std::strtol(argv[1], nullptr, 10));
    StartPeer();
    QApplication app(argc, argv);
    auto* form = new ui::TForm1;
    form->show();

    std::unique_ptr<midi::InputPort> input;
    const std::int32_t output = EntryOf(midi::ReadPortEntries(), "freeze-peer:in");
    if (midi::ChangePort(output) != 0) return 2;
    const std::int32_t source = EntryOf(midi::ReadInputEntries(), "freeze-peer:out");
    input = midi::OpenInputEntry(source, [](std::span<const std::uint8_t>) {}).port;
    if (!input) return 2;

    bool suspended = false;
    Clock::duration worst{};
    Clock::time_point lastTick = Clock::now();
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        if (suspended) worst = std::max(worst, now - lastTick);
        lastTick = now;
    });
    ticks.start(10);

    // One action per turn of the event loop, 50 ms apart, as a user's clicks would come.
    std::deque<std::function<void()>> steps;
    std::size_t threadsBefore = 0;
    std::atomic<bool> finished{false};
    std::atomic<bool> watchdogResumed{false};
    steps.push_back([&] {
        threadsBefore = ThreadCount();
        kill(server, SIGSTOP);
        suspended = true;
        lastTick = Clock::now();
        std::thread([&, server] {
            const auto until = Clock::now() + WatchdogLimit;
            while (!finished.load() && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (!finished.load()) {
                watchdogResumed.store(true);
                kill(server, SIGCONT);
            }
        }).detach();
    });
    if (!attemptsOnly) {
        steps.push_back([&] { input.reset(); });        // 停止 in the receive dialog
        steps.push_back([&] { midi::ChangePort(0); });  // (None) in the main window
    }
    for (int round = 0; round < 5; ++round) {
        steps.push_back([&] { midi::ReadPortEntries(); });
        steps.push_back([&] { midi::ReadInputEntries(); });
        steps.push_back([&] { midi::ChangePort(output); });
        steps.push_back([&] {
            midi::ReadInputEntries();
            midi::OpenInputEntry(source, [](std::span<const std::uint8_t>) {});
        });
    }
    steps.push_back([&] {
        suspended = false;
        finished.store(true);
        const std::size_t threadsAfter = ThreadCount();
        kill(server, SIGCONT);
        std::printf("worst gap between 10 ms ticks while suspended: %.1f ms%s\n",
                    std::chrono::duration<double, std::milli>(worst).count(),
                    watchdogResumed.load() ? " (the window's thread hung until the watchdog resumed the server)" : "");
        std::printf("threads before the attempts: %zu, after 20 attempts: %zu\n", threadsBefore, threadsAfter);
        std::fflush(stdout);
        std::_Exit(0);
    });
    QTimer stepper;
    QObject::connect(&stepper, &QTimer::timeout, [&] {
        if (steps.empty()) return;
        auto step = std::move(steps.front());
        steps.pop_front();
        step();
    });
    stepper.start(50);
    return QApplication::exec();
}
