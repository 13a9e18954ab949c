#include "settings/RegFileStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "common/FileReplacement.h"
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

private:
    int fd_;
};

// Our file holds a few short values; anything this large is not ours to parse, and reading it
// whole at every start would hold the window up for seconds. It reads as no file and is never
// saved over, so the first save says it failed and whatever the file holds stays.
constexpr off_t MaxRegFileBytes = 1 << 20;
constexpr int TooLarge = EFBIG;

struct FileText {
    int error = 0;  // 0, or errno of the failed open or read
    std::string text;
};

// Only a regular file is read. O_NONBLOCK because opening a FIFO for reading waits for a writer,
// which would hang start-up; a FIFO, a device or a folder counts as a file that cannot be read.
FileText ReadFileText(const fs::path& file) {
    FileText result;
    Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.Get() < 0) return {errno, {}};
    struct stat status {};
    if (::fstat(fd.Get(), &status) != 0) return {errno, {}};
    if (!S_ISREG(status.st_mode)) return {EINVAL, {}};
    if (status.st_size > MaxRegFileBytes) return {TooLarge, {}};
    char buffer[16384];
    while (true) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got == 0) return result;
        if (got < 0) {
            if (errno == EINTR) continue;
            return {errno, {}};
        }
        result.text.append(buffer, static_cast<std::size_t>(got));
        // It may be growing while it is read.
        if (result.text.size() > static_cast<std::size_t>(MaxRegFileBytes)) return {TooLarge, {}};
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

// Writes `text` in place of `target` through the one safe file replacement. Returns 0 or the
// errno of the step that failed. The earlier file stays whole on failure, but for a folder that
// refuses new files (the file is then written in place) and for a flush of the folder that
// failed after the rename: both still count as failures, since the value may not have been kept.
int ReplaceFile(const fs::path& target, const std::string& text) {
    try {
        kelvane::FileReplacement file(target.string(), kelvane::SpecialTargets::Refuse,
                                      kelvane::NewFileAccess::OwnerOnly);
        file.Write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        file.Close();
        return 0;
    } catch (const kelvane::FileReplaceError& failure) {
        return failure.SystemCode() == kelvane::FileReplaceError::NoProgress ? ENOSPC : failure.SystemCode();
    }
}

// What a save replaces: the file itself, or what its symbolic links lead to, which need not exist
// yet (a dangling link is saved through: its target is created and the link stays).
fs::path SaveTarget(const fs::path& file, std::error_code& error) {
    constexpr int MaxLinks = 40;  // as the kernel's own limit, against loops
    fs::path target = file;
    for (int links = 0; links < MaxLinks; ++links) {
        const fs::file_status status = fs::symlink_status(target, error);
        if (status.type() == fs::file_type::not_found) error.clear();
        if (error || status.type() != fs::file_type::symlink) return target;
        const fs::path next = fs::read_symlink(target, error);
        if (error) return {};
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    return {};
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

        std::error_code error;
        const fs::path target = SaveTarget(file_, error);
        if (error) return FromErrno(error.value(), RegWriteFault);

        auto old = ReadFileText(target);
        if (old.error == TooLarge) return RegWriteFault;
        if (old.error != 0 && old.error != ENOENT) return FromErrno(old.error, RegWriteFault);
        auto document = old.text.empty() ? std::optional<RegDocument>(RegDocument{}) : ParseRegText(old.text);
        if (!document) {
            const auto bad = fs::path(target) += ".bad";
            if (const int failed = ReplaceFile(bad, old.text); failed != 0) return FromErrno(failed, RegWriteFault);
            document = RegDocument{};
        }
        PutValue(*document, keyPath_, value);
        const std::string text = FormatRegText(*document);
        // Every start saves the same two bytes again; a file that already says exactly this is
        // left alone, which spares start-up two flushes to disk.
        if (old.error == 0 && old.text == text) return RegSuccess;
        if (const int failed = ReplaceFile(target, text); failed != 0) return FromErrno(failed, RegWriteFault);
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
