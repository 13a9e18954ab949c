#include "cli/Interrupt.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>

namespace cli {

namespace {

// Read by the command's threads while the handler writes it: only a lock-free atomic is both
// safe in a signal handler and seen by other threads.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

using Handler = void (*)(int);
Handler previousInt = SIG_DFL;
Handler previousTerm = SIG_DFL;

extern "C" void NoteInterrupt(int signal) {
    if (!interrupted.exchange(true)) return;
    // The second one: whoever asked twice wants the process gone now.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Installs the catcher unless the signal was ignored when the program started (std::signal is
// the only portable way to read the disposition, so an ignored signal is ignored again at once).
Handler Catch(int signal) {
    const Handler previous = std::signal(signal, NoteInterrupt);
    if (previous == SIG_IGN) std::signal(signal, SIG_IGN);
    return previous;
}

void Restore(int signal, Handler previous) {
    std::signal(signal, previous == SIG_ERR ? SIG_DFL : previous);
}

}  // namespace

InterruptCatcher::InterruptCatcher() {
    interrupted.store(false);
    previousInt = Catch(SIGINT);
    previousTerm = Catch(SIGTERM);
}

InterruptCatcher::~InterruptCatcher() {
    Restore(SIGINT, previousInt);
    Restore(SIGTERM, previousTerm);
}

bool InterruptCatcher::Requested() const { return interrupted.load(); }

// Polls: a signal handler may not wake a condition variable.
bool InterruptCatcher::WaitFor(std::chrono::milliseconds timeout) const {
    constexpr std::chrono::milliseconds Slice{5};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!Requested()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(Slice, deadline - now));
    }
    return true;
}

}  // namespace cli
