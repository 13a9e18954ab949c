// Forked children: the exit status comes back, a crash is told apart from any status, and a
// child still running when its object goes is ended rather than left behind.

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <stdexcept>

#include "ForkedChild.h"

namespace {

TEST(ForkedChild, GivesTheExitStatusOrNothingForACrash) {
    const struct {
        const char* what;
        std::function<int()> body;
        std::optional<int> status;
    } cases[] = {
        {"returns 0", [] { return 0; }, 0},
        {"returns 42", [] { return 42; }, 42},
        {"throws", []() -> int { throw std::runtime_error("no"); }, testsupport::ChildThrew},
        {"killed by a signal", [] { return ::raise(SIGKILL); }, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(testsupport::RunInChild(c.body), c.status) << c.what;
}

TEST(ForkedChild, EndsAChildThatIsStillRunning) {
    pid_t pid = 0;
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    {
        testsupport::ForkedChild child([&] {
            const pid_t self = ::getpid();
            (void)!::write(pipeEnds[1], &self, sizeof self);
            ::pause();
            return 0;
        });
        ASSERT_EQ(::read(pipeEnds[0], &pid, sizeof pid), static_cast<ssize_t>(sizeof pid));
        EXPECT_TRUE(child.Running());
    }
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    // Reaped by the destructor: no such process any more, not even a zombie.
    EXPECT_EQ(::kill(pid, 0), -1);
}

}  // namespace
