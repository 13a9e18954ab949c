#include "ForkedChild.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace testsupport {

ForkedChild::ForkedChild(const std::function<int()>& body) {
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        int result = ChildThrew;
        try {
            result = body();
        } catch (...) {
        }
        ::_exit(result);
    }
}

ForkedChild::~ForkedChild() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

bool ForkedChild::Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    Reaped(status);
    return false;
}

std::optional<int> ForkedChild::Wait() {
    if (pid_ > 0) {
        int status = 0;
        pid_t got;
        do {
            got = ::waitpid(pid_, &status, 0);
        } while (got < 0 && errno == EINTR);
        if (got != pid_) throw std::runtime_error("waitpid failed");
        Reaped(status);
    }
    return exitStatus_;
}

void ForkedChild::Reaped(int status) {
    pid_ = -1;
    if (WIFEXITED(status)) exitStatus_ = WEXITSTATUS(status);
}

std::optional<int> RunInChild(const std::function<int()>& body) {
    try {
        return ForkedChild(body).Wait();
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}

}  // namespace testsupport
