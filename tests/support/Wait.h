#pragma once
// Waiting for something another thread or process does: the condition decides, and the bound
// is only there so that a fault ends the test instead of hanging it. Make the bound generous;
// how long a step takes belongs in bench/, not in an assertion.

#include <chrono>
#include <thread>

namespace testsupport {

// The bound for something that comes at once on an idle machine: generous enough that a machine
// busy with other builds never reaches it, so reaching it means a fault.
inline constexpr std::chrono::minutes Patience{2};

// For a test that polls from an event loop: Now() is true once Patience has passed since this
// was made, and the test calls what it waited for a fault.
struct GiveUp {
    const std::chrono::steady_clock::time_point at = std::chrono::steady_clock::now() + Patience;
    bool Now() const { return std::chrono::steady_clock::now() > at; }
};

// Polls `ready` until it gives true (then true) or `bound` has passed (then false).
template <typename Ready>
bool WaitUntil(Ready ready, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace testsupport
