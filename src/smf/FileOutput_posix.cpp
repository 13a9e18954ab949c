#include "smf/FileOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "smf/InOutError.h"

namespace smf {

namespace {

// Linux moves at most 0x7FFFF000 bytes per write; asking for no more keeps every platform's
// ssize_t result meaningful.
constexpr std::size_t MaxWriteRequestBytes = 0x7FFFF000;

int Descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

OutputFile::OutputFile(const std::string& pathUtf8) : handle_(-1) {
    // open() would stop at an embedded NUL and create a different, shorter name.
    if (pathUtf8.find('\0') != std::string::npos) throw EInOutError(PathNotFoundCode);
    int fd;
    do {
        // Read and write access, as the format's writers have always asked for it; others may
        // keep the file open meanwhile, which POSIX allows anyway.
        fd = ::open(pathUtf8.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throw EInOutError::FromErrno(errno);
    handle_ = fd;
}

OutputFile::~OutputFile() {
    if (handle_ >= 0) ::close(Descriptor(handle_));
}

void OutputFile::Write(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(Descriptor(handle_), data, std::min(size, MaxWriteRequestBytes));
        if (written < 0) {
            // A signal that arrives before anything is written; after some bytes the call
            // returns short instead, and the loop carries on with the rest.
            if (errno == EINTR) continue;
            throw EInOutError::FromErrno(errno);
        }
        if (written == 0) throw EInOutError(DiskFullCode);
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void OutputFile::Close() {
    if (handle_ < 0) return;
    const int fd = Descriptor(handle_);
    handle_ = -1;
    // Linux releases the descriptor even when close() is interrupted, so EINTR is no failure to
    // report and no reason to close again (the number may already belong to another file).
    if (::close(fd) != 0 && errno != EINTR) throw EInOutError::FromErrno(errno);
}

}  // namespace smf
