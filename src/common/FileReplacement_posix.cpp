#include "common/FileReplacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <random>

namespace kelvane {

namespace {

using Outcome = FileReplaceError::Outcome;

// Linux moves at most 0x7FFFF000 bytes per write; asking for no more keeps every platform's
// ssize_t result meaningful.
constexpr std::size_t MaxWriteRequestBytes = 0x7FFFF000;

constexpr std::size_t TempRandomChars = 6;
constexpr int TempNameAttempts = 100;
// The kernel's own limit on symbolic links in one lookup.
constexpr int MaxLinkHops = 40;

[[noreturn]] void Fail(int error, Outcome outcome = Outcome::EarlierKept) { throw FileReplaceError(error, outcome); }

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

bool IsTempName(const char* entry) {
    constexpr std::size_t prefixLength = sizeof FileReplacement::TemporaryPrefix - 1;
    if (std::strlen(entry) != prefixLength + TempRandomChars) return false;
    if (std::strncmp(entry, FileReplacement::TemporaryPrefix, prefixLength) != 0) return false;
    return std::all_of(entry + prefixLength, entry + prefixLength + TempRandomChars,
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// Removes the temporary files in this folder that no running save holds: a save keeps its
// temporary file locked until the rename, and a killed process loses its locks. Only this user's
// own files go, never another's that merely look alike.
void RemoveAbandonedTemps(const std::string& folder) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsTempName(entry->d_name)) continue;
        const std::string path = folder + entry->d_name;
        const int fd = OpenRetrying(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            ::unlink(path.c_str());
        }
        ::close(fd);
    }
    ::closedir(dir);
}

// Creates a new, locked temporary file in the folder; -1 with errno set when the folder refuses
// one. The mode passes through the umask like any new file's.
int CreateTemp(const std::string& folder, mode_t mode, std::string& tempPath) {
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 random(seed() ^ static_cast<unsigned>(::getpid()));
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    for (int attempt = 0; attempt < TempNameAttempts; ++attempt) {
        std::string name = folder + FileReplacement::TemporaryPrefix;
        for (std::size_t i = 0; i < TempRandomChars; ++i) name += alphabet[pick(random)];
        const int fd = OpenRetrying(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY, mode);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return -1;
        }
        // Another save into the same folder may have taken the name for abandoned between the
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

// Whether a refused temporary file leaves writing in place as the only way to save: the folder
// takes no new name at all. A full disk, no free inodes, a name too long or too many open files
// do not count: there, writing in place could end in the same failure halfway through the file.
bool FolderRefusesNewFiles(int error) { return error == EACCES || error == EPERM || error == EROFS; }

// The rename reaches the disk only with its folder. 0, or the errno of the failed step; EINVAL
// means the file system has nothing to flush for a folder.
int SyncFolder(const std::string& folder) {
    const int fd = OpenRetrying(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return errno;
    const int error = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
    ::close(fd);
    return error;
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

FileReplacement::FileReplacement(const std::string& pathUtf8, SpecialTargets special, NewFileAccess access)
    : handle_(-1) {
    // open() would stop at an embedded NUL and create a different, shorter name.
    if (pathUtf8.find('\0') != std::string::npos) Fail(ENOENT);
    struct stat st {};
    const bool exists = ::stat(pathUtf8.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) Fail(errno);
    if (exists && S_ISDIR(st.st_mode)) Fail(EISDIR);

    if (exists && !S_ISREG(st.st_mode)) {
        if (special == SpecialTargets::Refuse) Fail(EACCES);
        // Write only: read access made this process a FIFO's reader of its own bytes. Without
        // O_NONBLOCK the open would wait for a reader that may never come; with it, a FIFO
        // without one fails at once (ENXIO).
        const int fd = OpenRetrying(pathUtf8, O_WRONLY | O_NONBLOCK | O_NOCTTY);
        if (fd < 0) Fail(errno);
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        handle_ = fd;
        mayBreakPipe_ = true;
        return;
    }

    const std::string target = ResolveLinks(pathUtf8, exists);
    // An existing file must be writable itself: the rename alone would replace a read-only file.
    // The descriptor stays ready for writing in place should the folder refuse new files.
    int inPlace = -1;
    if (exists) {
        inPlace = OpenRetrying(target, O_WRONLY | O_NONBLOCK | O_NOCTTY);
        if (inPlace < 0) Fail(errno);
    }

    const std::string folder = FolderOf(target);
    RemoveAbandonedTemps(folder);
    std::string tempPath;
    const mode_t newMode = access == NewFileAccess::OwnerOnly ? 0600 : 0666;
    const int temp = CreateTemp(folder, newMode, tempPath);
    if (temp < 0) {
        const int error = errno;
        if (inPlace < 0 || !FolderRefusesNewFiles(error)) {
            if (inPlace >= 0) ::close(inPlace);
            Fail(error);
        }
        // Nothing is changed before the first write, so a save given up before it keeps the file.
        const int flags = ::fcntl(inPlace, F_GETFL);
        if (flags >= 0) ::fcntl(inPlace, F_SETFL, flags & ~O_NONBLOCK);
        handle_ = inPlace;
        inPlace_ = true;
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

FileReplacement::FileReplacement(StandardOutputTarget)
    : handle_(STDOUT_FILENO), ownsHandle_(false), mayBreakPipe_(true) {}

FileReplacement::~FileReplacement() {
    if (handle_ >= 0 && ownsHandle_) ::close(static_cast<int>(handle_));
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
}

void FileReplacement::Write(const std::uint8_t* data, std::size_t size) {
    std::optional<PipeSignalHeld> held;
    if (mayBreakPipe_) held.emplace();
    // Once a byte has gone into a file written in place, the earlier content is gone.
    const Outcome failed = inPlace_ ? Outcome::MayBeIncomplete : Outcome::EarlierKept;
    while (size > 0) {
        const ssize_t written = ::write(static_cast<int>(handle_), data, std::min(size, MaxWriteRequestBytes));
        if (written < 0) {
            // A signal that arrives before anything is written; after some bytes the call
            // returns short instead, and the loop carries on with the rest.
            if (errno == EINTR) continue;
            Fail(errno, failed);
        }
        if (written == 0) Fail(FileReplaceError::NoProgress, failed);
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void FileReplacement::Close() {
    if (handle_ < 0) return;
    const int fd = static_cast<int>(handle_);
    if (inPlace_) {
        const off_t end = ::lseek(fd, 0, SEEK_CUR);
        if (end < 0 || ::ftruncate(fd, end) != 0 || ::fsync(fd) != 0) Fail(errno, Outcome::MayBeIncomplete);
    } else if (!tempPath_.empty()) {
        // The rename comes before the close: the lock on the temporary file keeps another save
        // into this folder from taking it for abandoned until it has its final name.
        if (::fsync(fd) != 0 || ::rename(tempPath_.c_str(), targetPath_.c_str()) != 0) {
            Fail(errno);  // the destructor closes and removes it
        }
        tempPath_.clear();
    }
    handle_ = -1;
    int error = 0;
    // Linux releases the descriptor even when close() is interrupted, so EINTR is no failure to
    // report and no reason to close again (the number may already belong to another file).
    if (ownsHandle_ && ::close(fd) != 0 && errno != EINTR) error = errno;
    if (error == 0 && !targetPath_.empty()) error = SyncFolder(FolderOf(targetPath_.native()));
    if (error != 0) Fail(error, targetPath_.empty() && !inPlace_ ? Outcome::EarlierKept : Outcome::NotDurable);
}

}  // namespace kelvane
