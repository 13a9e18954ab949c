#include "sysex/DumpFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/Failure.h"

namespace sysex {

DumpFile::DumpFile(const std::string& pathUtf8) : path_(pathUtf8), handle_(-1) {
    // O_NONBLOCK so that a FIFO cannot hang the window at open; only regular files are read,
    // which also keeps endless devices such as /dev/zero out.
    const int fd = ::open(pathUtf8.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) throw kelvane::Failure(CannotOpenText(path_));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw kelvane::Failure(CannotOpenText(path_));
    }
    handle_ = fd;
    size_ = static_cast<std::uint64_t>(info.st_size);
}

DumpFile::~DumpFile() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::size_t DumpFile::Read(std::uint8_t* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(static_cast<int>(handle_), buffer, size);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) throw kelvane::Failure(CannotOpenText(path_));
    }
}


std::size_t DumpFile::ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
    std::size_t total = 0;
    while (total < size) {
        const ssize_t got = ::pread(static_cast<int>(handle_), buffer + total, size - total,
                                    static_cast<off_t>(offset + total));
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            throw kelvane::Failure(CannotOpenText(path_));
        }
        total += static_cast<std::size_t>(got);
    }
    return total;
}

}  // namespace sysex
