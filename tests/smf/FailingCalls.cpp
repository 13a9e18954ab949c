#include "FailingCalls.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace testsupport {
namespace {

std::atomic<bool> armed{false};
CallFailure current;
std::string under;
int seen = 0;

bool IsUnder(const char* path) {
    return path != nullptr && std::strncmp(path, under.c_str(), under.size()) == 0;
}

bool IsUnder(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    // A folder's own name counts as under itself.
    char target[4096];
    const ssize_t length = ::readlink(link, target, sizeof target - 2);
    if (length <= 0) return false;
    target[length] = '/';
    target[length + 1] = '\0';
    return IsUnder(target);
}

// Whether this call is the one to fail; errno is set when it is.
bool Trips(FailingCall call) {
    if (current.call != call || seen++ < current.passed) return false;
    if (current.kill) ::raise(SIGKILL);
    errno = current.error;
    return true;
}

template <typename Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

int OpenThrough(const char* name, const char* path, int flags, mode_t mode) {
    if (armed && (flags & O_CREAT) && IsUnder(path)) {
        const char* slash = std::strrchr(path, '/');
        if (std::strncmp(slash ? slash + 1 : path, ".kv-", 4) == 0 && Trips(FailingCall::CreateTemporary)) return -1;
    }
    return Next<int (*)(const char*, int, ...)>(name)(path, flags, mode);
}

}  // namespace

FailingCallScope::FailingCallScope(const CallFailure& failure, const std::string& folder) {
    char real[4096];
    under = ::realpath(folder.c_str(), real) ? real : folder;
    under += '/';
    current = failure;
    seen = 0;
    armed = true;
}

FailingCallScope::~FailingCallScope() { armed = false; }

}  // namespace testsupport

using testsupport::FailingCall;

extern "C" {

int open(const char* path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(rest, int)) : 0;
    va_end(rest);
    return testsupport::OpenThrough("open", path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(rest, int)) : 0;
    va_end(rest);
    return testsupport::OpenThrough("open64", path, flags, mode);
}

ssize_t write(int fd, const void* data, size_t size) {
    if (testsupport::armed && testsupport::IsUnder(fd) && testsupport::Trips(FailingCall::WriteFile)) return -1;
    return testsupport::Next<ssize_t (*)(int, const void*, size_t)>("write")(fd, data, size);
}

int fsync(int fd) {
    struct stat status {};
    if (testsupport::armed && testsupport::IsUnder(fd) && ::fstat(fd, &status) == 0 &&
        testsupport::Trips(S_ISDIR(status.st_mode) ? FailingCall::SyncFolder : FailingCall::SyncFile)) {
        return -1;
    }
    return testsupport::Next<int (*)(int)>("fsync")(fd);
}

int rename(const char* from, const char* to) {
    if (testsupport::armed && testsupport::IsUnder(to) && testsupport::Trips(FailingCall::Rename)) return -1;
    return testsupport::Next<int (*)(const char*, const char*)>("rename")(from, to);
}

}  // extern "C"
