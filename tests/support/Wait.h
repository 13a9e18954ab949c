#pragma once
// Waiting for something another thread or process does: the condition decides, and the bound
// is only there so that a fault ends the test instead of hanging it. Make the bound generous;
// how long a step takes belongs in bench/, not in an assertion.

#include <chrono>
#include <thread>

namespace testsupport {

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
