#include "settings/RegFileStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "settings/RegText.h"

namespace settings {

namespace {

namespace fs = std::filesystem;

RegResult FromErrno(int error, RegResult otherwise) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return RegAccessDenied;
    case ENOENT:
    case ENOTDIR:
        return RegPathNotFound;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return RegDiskFull;
    default:
        return otherwise;
    }
}

// Closes on every path out; the lock on a lock file goes with its descriptor.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

struct FileText {
    int error = 0;  // 0, or errno of the failed open or read
    std::string text;
};

FileText ReadFileText(const fs::path& file) {
    FileText result;
    Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) return {errno, {}};
    char buffer[16384];
    while (true) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got == 0) return result;
        if (got < 0) {
            if (errno == EINTR) continue;
            return {errno, {}};
        }
        result.text.append(buffer, static_cast<std::size_t>(got));
    }
}

// Like mkdir -p; folders it creates get mode 0700, as the XDG base directory rules ask.
int MakeFolders(const fs::path& folder) {
    fs::path partial;
    for (const auto& part : folder) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    }
    return 0;
}

int WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return 0;
}

// Writes `text` to a temporary file beside `target`, flushes it and renames it over `target`.
// Returns 0 or the errno of the step that failed; on failure `target` is untouched.
int ReplaceFile(const fs::path& target, const std::string& text, mode_t mode) {
    std::string temporary = target.string() + ".XXXXXX";
    Descriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.Get() < 0) return errno;
    int error = WriteAll(fd.Get(), text);
    if (error == 0 && ::fchmod(fd.Get(), mode) != 0) error = errno;
    if (error == 0 && ::fsync(fd.Get()) != 0) error = errno;
    // close() is where some file systems (NFS) report a failed write.
    if (error == 0 && ::close(fd.Release()) != 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return error;
    }
    // The new file is complete either way; flushing the folder only makes the rename durable.
    Descriptor folder(::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() >= 0) ::fsync(folder.Get());
    return 0;
}

class RegFileKey : public RegistryKey {
public:
    RegFileKey(fs::path file, std::string keyPath) : file_(std::move(file)), keyPath_(std::move(keyPath)) {}

    RegResult SetValue(const std::string& name, RegType type, const std::uint8_t* data,
                       std::uint32_t sizeBytes) override {
        if (!IsStorableName(name) || (data == nullptr && sizeBytes != 0)) return RegInvalidParameter;
        RegValue value{name, type, {}};
        if (sizeBytes != 0) value.data.assign(data, data + sizeBytes);
        return Save(value);
    }

    RegResult QueryValueInfo(const std::string& name, RegType& type, std::uint32_t& sizeBytes) override {
        const auto value = Load(name);
        if (!value) return RegFileNotFound;
        type = value->type;
        sizeBytes = static_cast<std::uint32_t>(value->data.size());
        return RegSuccess;
    }

    RegResult QueryValue(const std::string& name, RegType& type, std::uint8_t* buffer,
                         std::uint32_t& sizeBytes) override {
        const auto value = Load(name);
        if (!value) return RegFileNotFound;
        type = value->type;
        const auto capacity = sizeBytes;
        sizeBytes = static_cast<std::uint32_t>(value->data.size());
        if (value->data.size() > capacity) return RegMoreData;
        std::copy(value->data.begin(), value->data.end(), buffer);
        return RegSuccess;
    }

private:
    std::optional<RegValue> Load(const std::string& name) const {
        const auto file = ReadFileText(file_);
        if (file.error != 0) return std::nullopt;
        const auto document = ParseRegText(file.text);
        if (!document) return std::nullopt;
        const auto* value = FindValue(*document, keyPath_, name);
        if (value == nullptr) return std::nullopt;
        return *value;
    }

    RegResult Save(const RegValue& value) const {
        const auto folder = file_.parent_path();
        if (const int error = MakeFolders(folder); error != 0) return FromErrno(error, RegWriteFault);
        const auto lockPath = fs::path(file_) += ".lock";
        Descriptor lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        if (lock.Get() < 0) return FromErrno(errno, RegWriteFault);
        while (::flock(lock.Get(), LOCK_EX) != 0) {
            if (errno != EINTR) return FromErrno(errno, RegWriteFault);
        }

        // Replace what the link points at, not the link.
        fs::path target = file_;
        std::error_code error;
        if (fs::is_symlink(file_, error)) {
            target = fs::canonical(file_, error);
            if (error) return FromErrno(error.value(), RegWriteFault);
        }
        mode_t mode = 0600;
        struct stat status {};
        if (::stat(target.c_str(), &status) == 0) mode = status.st_mode & 07777;

        auto old = ReadFileText(target);
        if (old.error != 0 && old.error != ENOENT) return FromErrno(old.error, RegWriteFault);
        auto document = old.text.empty() ? std::optional<RegDocument>(RegDocument{}) : ParseRegText(old.text);
        if (!document) {
            const auto bad = fs::path(target) += ".bad";
            if (const int failed = ReplaceFile(bad, old.text, mode); failed != 0) return FromErrno(failed, RegWriteFault);
            document = RegDocument{};
        }
        PutValue(*document, keyPath_, value);
        if (const int failed = ReplaceFile(target, FormatRegText(*document), mode); failed != 0)
            return FromErrno(failed, RegWriteFault);
        return RegSuccess;
    }

    fs::path file_;
    std::string keyPath_;
};

}  // namespace

std::optional<fs::path> DefaultRegFilePath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') return fs::path(config) / RegFileName;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* user = ::getpwuid(::getuid());
        if (user == nullptr || user->pw_dir == nullptr || user->pw_dir[0] == '\0') return std::nullopt;
        home = user->pw_dir;
    }
    return fs::path(home) / ".config" / RegFileName;
}

RegResult RegFileStore::CreateKey(const std::string& subKey, std::unique_ptr<RegistryKey>& key) {
    key.reset();
    if (subKey.empty() || !IsStorableName(subKey)) return RegInvalidParameter;
    const auto file = file_ ? file_ : DefaultRegFilePath();
    if (!file) return RegPathNotFound;
    key = std::make_unique<RegFileKey>(*file, "HKEY_CURRENT_USER\\" + subKey);
    return RegSuccess;
}

}  // namespace settings
