#pragma once
// A copy of the test process made with fork(), for checks that must not touch the test process
// itself: resource limits, dropped privileges, or two processes using one file at once.

#include <sys/types.h>

#include <functional>
#include <optional>

namespace testsupport {

// Exit status of a child whose body threw.
inline constexpr int ChildThrew = 127;

class ForkedChild {
public:
    // Forks; the child runs `body` and exits with its result without running the test process's
    // exit handlers. Throws std::runtime_error when fork fails.
    explicit ForkedChild(const std::function<int()>& body);
    // Kills and reaps a child that is still running, so a failed test leaves none behind.
    ~ForkedChild();
    ForkedChild(const ForkedChild&) = delete;
    ForkedChild& operator=(const ForkedChild&) = delete;

    // Whether the child is still running; never waits.
    bool Running();

    // Waits for the end; the child's exit status, or nothing when it did not exit normally.
    std::optional<int> Wait();

private:
    void Reaped(int status);

    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
};

// Runs `body` in a forked child and waits for it: its result, or nothing when the child could
// not be run or did not exit normally.
std::optional<int> RunInChild(const std::function<int()>& body);

}  // namespace testsupport
