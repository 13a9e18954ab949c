#include "smf/FileOutput.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>

#include "smf/InOutError.h"

namespace smf {

namespace {

// Linux moves at most 0x7FFFF000 bytes per write; asking for no more keeps every platform's
// ssize_t result meaningful.
constexpr std::size_t MaxWriteRequestBytes = 0x7FFFF000;

// A temporary file is "." + the target's name + "." + six random characters + this suffix, so
// that a later save of the same target finds the ones a killed process left behind.
constexpr char TempSuffix[] = ".kelvane-tmp";
constexpr std::size_t TempRandomChars = 6;
constexpr int TempNameAttempts = 100;
// The kernel's own limit on symbolic links in one lookup.
constexpr int MaxLinkHops = 40;

int Descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

int OpenRetrying(const std::string& path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The folder part with its trailing "/", or "" for a bare name.
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where a file written under `path` really lives: an existing file under its real name; a
// dangling symbolic link resolved to the new name it points at.
std::string ResolveLinks(const std::string& path, bool exists) {
    if (exists) {
        const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
        return real ? std::string(real.get()) : path;
    }
    std::string current = path;
    for (int hop = 0; hop < MaxLinkHops; ++hop) {
        char buffer[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), buffer, sizeof buffer);
        // Not a link (or an unreadable one): the create names the file and reports any error.
        if (length <= 0 || static_cast<std::size_t>(length) == sizeof buffer) return current;
        const std::string link(buffer, static_cast<std::size_t>(length));
        current = link.front() == '/' ? link : FolderOf(current) + link;
    }
    return current;
}

bool IsTempNameOf(const std::string& entry, const std::string& prefix) {
    constexpr std::size_t suffixLength = sizeof TempSuffix - 1;
    return entry.size() == prefix.size() + TempRandomChars + suffixLength && entry.compare(0, prefix.size(), prefix) == 0 &&
           entry.compare(entry.size() - suffixLength, suffixLength, TempSuffix) == 0;
}

// Removes the temporary files of this target that no running save holds: a save keeps its
// temporary file locked until the rename, and a killed process loses its locks.
void RemoveAbandonedTemps(const std::string& folder, const std::string& prefix) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsTempNameOf(entry->d_name, prefix)) continue;
        const std::string path = folder + entry->d_name;
        const int fd = OpenRetrying(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            ::unlink(path.c_str());
        }
        ::close(fd);
    }
    ::closedir(dir);
}

// Creates a new, locked temporary file beside the target; -1 with errno set when the folder
// refuses one. The mode passes through the umask like any new file's.
int CreateTemp(const std::string& prefix, mode_t mode, std::string& tempPath) {
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 random(seed() ^ static_cast<unsigned>(::getpid()));
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    for (int attempt = 0; attempt < TempNameAttempts; ++attempt) {
        std::string name = prefix;
        for (std::size_t i = 0; i < TempRandomChars; ++i) name += alphabet[pick(random)];
        name += TempSuffix;
        const int fd = OpenRetrying(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, mode);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return -1;
        }
        // Another save of the same target may have taken the name for abandoned between the
        // create and the lock; then it is gone and a fresh name is needed.
        struct stat held {}, named {};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 && ::stat(name.c_str(), &named) == 0 &&
            held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
            tempPath = name;
            return fd;
        }
        ::close(fd);
    }
    errno = EEXIST;
    return -1;
}

// Best effort: the rename itself reaches the disk with the folder's next flush.
void SyncFolder(const std::string& folder) {
    const int fd = OpenRetrying(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Keeps a reader that has quit from ending the process with SIGPIPE: the write fails with EPIPE
// instead. Blocking the signal in this thread and taking back the one the write raised leaves
// the process's own handling untouched.
class PipeSignalHeld {
public:
    PipeSignalHeld() {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_);
    }
    ~PipeSignalHeld() {
        sigset_t pending;
        sigpending(&pending);
        if (!pendingBefore_ && sigismember(&previous_, SIGPIPE) != 1 && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{0, 0};
            while (sigtimedwait(&pipeOnly_, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    PipeSignalHeld(const PipeSignalHeld&) = delete;
    PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;

private:
    sigset_t pipeOnly_;
    sigset_t previous_;
    bool pendingBefore_ = false;
};

}  // namespace

OutputFile::OutputFile(const std::string& pathUtf8, SpecialTargets special) : handle_(-1) {
    // open() would stop at an embedded NUL and create a different, shorter name.
    if (pathUtf8.find('\0') != std::string::npos) throw EInOutError(PathNotFoundCode);
    struct stat st {};
    const bool exists = ::stat(pathUtf8.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) throw EInOutError::FromErrno(errno);
    if (exists && S_ISDIR(st.st_mode)) throw EInOutError::FromErrno(EISDIR);

    if (exists && !S_ISREG(st.st_mode)) {
        if (special == SpecialTargets::Refuse) throw EInOutError(AccessDeniedCode);
        // Write only: read access made this process a FIFO's reader of its own bytes. Without
        // O_NONBLOCK the open would wait for a reader that may never come; with it, a FIFO
        // without one fails at once (ENXIO).
        const int fd = OpenRetrying(pathUtf8, O_WRONLY | O_NONBLOCK);
        if (fd < 0) throw EInOutError::FromErrno(errno);
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        handle_ = fd;
        mayBreakPipe_ = true;
        return;
    }

    const std::string target = ResolveLinks(pathUtf8, exists);
    // An existing file must be writable itself: the rename alone would replace a read-only file.
    // The descriptor stays ready for writing in place should the folder refuse a temporary file.
    int inPlace = -1;
    if (exists) {
        inPlace = OpenRetrying(target, O_WRONLY | O_NONBLOCK);
        if (inPlace < 0) throw EInOutError::FromErrno(errno);
    }

    const std::string folder = FolderOf(target);
    const std::string namePrefix = "." + NameOf(target) + ".";
    RemoveAbandonedTemps(folder, namePrefix);
    std::string tempPath;
    const int temp = CreateTemp(folder + namePrefix, 0666, tempPath);
    if (temp < 0) {
        const int error = errno;
        if (inPlace < 0) throw EInOutError::FromErrno(error);
        if (::ftruncate(inPlace, 0) != 0) {
            const int truncateError = errno;
            ::close(inPlace);
            throw EInOutError::FromErrno(truncateError);
        }
        handle_ = inPlace;
        return;
    }
    if (inPlace >= 0) {
        ::close(inPlace);
        // Owner and group first: changing them clears set-id bits that the mode then restores.
        // Only root may give a file away, so elsewhere the new file simply stays the saver's;
        // neither is worth failing a save for.
        [[maybe_unused]] const int givenAway = ::fchown(temp, st.st_uid, st.st_gid);
        [[maybe_unused]] const int modeKept = ::fchmod(temp, st.st_mode & 07777);
    }
    handle_ = temp;
    tempPath_ = tempPath;
    targetPath_ = target;
}

OutputFile::OutputFile(StandardOutputTarget) : handle_(STDOUT_FILENO), ownsHandle_(false), mayBreakPipe_(true) {}

OutputFile::~OutputFile() {
    if (handle_ >= 0 && ownsHandle_) ::close(Descriptor(handle_));
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
}

void OutputFile::Write(const std::uint8_t* data, std::size_t size) {
    std::optional<PipeSignalHeld> held;
    if (mayBreakPipe_) held.emplace();
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
    if (!tempPath_.empty()) {
        // The rename comes before the close: the lock on the temporary file keeps another save
        // of this target from taking it for abandoned until it has its final name.
        if (::fsync(fd) != 0 || ::rename(tempPath_.c_str(), targetPath_.c_str()) != 0) {
            throw EInOutError::FromErrno(errno);  // the destructor closes and removes it
        }
        tempPath_.clear();
        SyncFolder(FolderOf(targetPath_.native()));
    }
    handle_ = -1;
    if (!ownsHandle_) return;
    // Linux releases the descriptor even when close() is interrupted, so EINTR is no failure to
    // report and no reason to close again (the number may already belong to another file).
    if (::close(fd) != 0 && errno != EINTR) throw EInOutError::FromErrno(errno);
}

}  // namespace smf
