#include "common/FileReplacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <vector>
#include <thread>

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

// A file written in place waits this long for another save of it before it gives up.
constexpr auto InPlaceLockWait = std::chrono::seconds(5);
constexpr auto InPlaceLockPoll = std::chrono::milliseconds(20);
// The earlier content is copied, and the new content written in place, in requests of this size,
// so that a failure partway is seen partway.
constexpr std::size_t InPlaceChunkBytes = 1 << 16;

[[noreturn]] void Fail(int error, Outcome outcome = Outcome::EarlierKept,
                       const std::filesystem::path& earlier = {}) {
    throw FileReplaceError(error, outcome, {}, earlier);
}

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

// Creates a new, locked file named `prefix` (a folder and the start of a name) and six random
// characters; -1 with errno set when the folder refuses one. The mode passes through the umask like any new file's.
int CreateTemp(const std::string& prefix, mode_t mode, std::string& tempPath) {
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 random(seed() ^ static_cast<unsigned>(::getpid()));
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    for (int attempt = 0; attempt < TempNameAttempts; ++attempt) {
        std::string name = prefix;
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

// Writes all of `size` bytes; 0 or errno (NoProgress for a write that moves nothing).
int WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, std::min(size, InPlaceChunkBytes));
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (written == 0) return FileReplaceError::NoProgress;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

// Copies the whole of `from` (read from its start) into a new file in `folder`, flushed to disk;
// 0 and the copy's name, or errno with nothing left behind.
int CopyIntoNewFile(int from, const std::string& folder, const std::string& stem, std::string& copyPath) {
    std::string name;
    const int to = CreateTemp(folder + stem, 0600, name);
    if (to < 0) return errno;
    std::vector<std::uint8_t> buffer(InPlaceChunkBytes);
    int error = 0;
    for (off_t at = 0; error == 0;) {
        const ssize_t got = ::pread(from, buffer.data(), buffer.size(), at);
        if (got < 0) {
            if (errno != EINTR) error = errno;
            continue;
        }
        if (got == 0) break;
        error = WriteAll(to, buffer.data(), static_cast<std::size_t>(got));
        at += got;
    }
    if (error == 0 && ::fsync(to) != 0) error = errno;
    ::close(to);
    if (error != 0) {
        ::unlink(name.c_str());
        return error == FileReplaceError::NoProgress ? ENOSPC : error;
    }
    copyPath = name;
    return 0;
}

// Takes an exclusive lock on an open file, waiting a bounded time for its holder; 0 or errno.
int LockWithin(int fd) {
    const auto giveUp = std::chrono::steady_clock::now() + InPlaceLockWait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) return errno;
        if (std::chrono::steady_clock::now() >= giveUp) return EWOULDBLOCK;
        std::this_thread::sleep_for(InPlaceLockPoll);
    }
    return 0;
}

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
    const int temp = CreateTemp(folder + TemporaryPrefix, newMode, tempPath);
    if (temp < 0) {
        const int error = errno;
        if (inPlace < 0 || !FolderRefusesNewFiles(error)) {
            if (inPlace >= 0) ::close(inPlace);
            Fail(error);
        }
        // Close() copies the earlier content before it overwrites it, so it must be readable too.
        ::close(inPlace);
        const int readWrite = OpenRetrying(target, O_RDWR | O_NOCTTY);
        if (readWrite < 0) Fail(errno, Outcome::EarlierNotCopied);
        handle_ = readWrite;
        targetPath_ = target;
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

FileReplacement::FileReplacement(const std::string& pathUtf8, NewFileOnlyTarget, NewFileAccess access)
    : handle_(-1) {
    if (pathUtf8.find('\0') != std::string::npos) Fail(ENOENT);
    // O_EXCL with O_CREAT never follows a link, a dangling one included; O_NOFOLLOW says so twice.
    const int fd = OpenRetrying(pathUtf8, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY,
                                access == NewFileAccess::OwnerOnly ? 0600 : 0666);
    if (fd < 0) Fail(errno);
    handle_ = fd;
    createdPath_ = pathUtf8;
    targetPath_ = pathUtf8;
}

FileReplacement::~FileReplacement() {
    if (handle_ >= 0 && ownsHandle_) ::close(static_cast<int>(handle_));
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
    if (!createdPath_.empty()) ::unlink(createdPath_.c_str());
}

void FileReplacement::Write(const std::uint8_t* data, std::size_t size) {
    if (inPlace_) {
        pending_.insert(pending_.end(), data, data + size);
        return;
    }
    std::optional<PipeSignalHeld> held;
    if (mayBreakPipe_) held.emplace();
    const Outcome failed = Outcome::EarlierKept;
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

// The earlier content is kept until the new one is on disk: in the state folder, because the
// target's own folder takes no new file. The order matters: the lock first, so that two saves
// never interleave their bytes; the copy next; the room last, since allocating it may already
// move blocks; only then the first byte over the earlier content.
void FileReplacement::CloseInPlace() {
    const int fd = static_cast<int>(handle_);
    if (const int error = LockWithin(fd); error != 0) Fail(error, error == EWOULDBLOCK ? Outcome::TargetBusy : Outcome::EarlierKept);
    struct stat before {};
    if (::fstat(fd, &before) != 0) Fail(errno);

    int error = 0;
    const std::filesystem::path state = UserStateFolder(error);
    if (state.empty()) Fail(error, Outcome::EarlierNotCopied);
    std::string copy;
    const std::string stem = targetPath_.filename().string() + ".earlier-";
    if (const int failed = CopyIntoNewFile(fd, state.string() + "/", stem, copy); failed != 0) {
        Fail(failed, Outcome::EarlierNotCopied);
    }

    const auto size = static_cast<off_t>(pending_.size());
    if (size > 0) {
        int room;
        do {
            room = ::posix_fallocate(fd, 0, size);
        } while (room == EINTR);
        if (room != 0) {
            // A failed allocation may have grown the file; what it held is untouched.
            [[maybe_unused]] const int cut = ::ftruncate(fd, before.st_size);
            ::unlink(copy.c_str());
            Fail(room);
        }
    }
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        const int failed = errno;
        ::unlink(copy.c_str());
        Fail(failed);
    }
    if (const int failed = WriteAll(fd, pending_.data(), pending_.size()); failed != 0) {
        Fail(failed, Outcome::MayBeIncomplete, copy);
    }
    if (::ftruncate(fd, size) != 0 || ::fsync(fd) != 0) Fail(errno, Outcome::MayBeIncomplete, copy);
    ::unlink(copy.c_str());
    std::vector<std::uint8_t>().swap(pending_);
}

void FileReplacement::Close() {
    if (handle_ < 0) return;
    const int fd = static_cast<int>(handle_);
    if (inPlace_) {
        CloseInPlace();
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
    if (!createdPath_.empty()) {
        if (error != 0) Fail(error);  // the destructor removes the file
        createdPath_.clear();
    }
    // Writing in place changed no name: the folder has nothing new to flush.
    if (error == 0 && !targetPath_.empty() && !inPlace_) error = SyncFolder(FolderOf(targetPath_.native()));
    if (error != 0) Fail(error, targetPath_.empty() && !inPlace_ ? Outcome::EarlierKept : Outcome::NotDurable);
}

std::filesystem::path UserStateFolder(int& error) {
    std::filesystem::path base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
        base = state;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') {
            const passwd* user = ::getpwuid(::geteuid());
            if (user == nullptr || user->pw_dir == nullptr || user->pw_dir[0] != '/') {
                error = ENOENT;
                return {};
            }
            home = user->pw_dir;
        }
        base = std::filesystem::path(home) / ".local" / "state";
    }
    const std::filesystem::path folder = base / "kelvane";
    std::filesystem::path partial;
    for (const auto& part : folder) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            error = errno;
            return {};
        }
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) {
        error = errno;
        return {};
    }
    // A link or another's folder could send the user's data where someone else reads it.
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        error = EACCES;
        return {};
    }
    error = 0;
    return folder;
}

}  // namespace kelvane
