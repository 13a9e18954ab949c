#include "common/FileReplacement.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <optional>
#include <random>

#include "common/WideText.h"

namespace kelvane {

namespace {

namespace fs = std::filesystem;
using Outcome = FileReplaceError::Outcome;

constexpr std::size_t TempRandomChars = 6;
constexpr int TempNameAttempts = 100;
// A backup of the earlier file during ReplaceFileW has a name of its own, which the clean-up of
// abandoned temporary files never matches: after a failed replace it may hold the only copy.
constexpr wchar_t BackupSuffix[] = L".bak";

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
std::intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

// A name as people write it, without the "\\?\" prefix the calls below are given.
fs::path Readable(const fs::path& path) {
    const std::wstring& name = path.native();
    if (name.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + name.substr(8);
    if (name.rfind(L"\\\\?\\", 0) == 0) return name.substr(4);
    return path;
}

[[noreturn]] void Fail(DWORD error, Outcome outcome = Outcome::EarlierKept, const fs::path& temp = {},
                       const fs::path& earlier = {}) {
    throw FileReplaceError(static_cast<int>(error), outcome, temp.empty() ? temp : Readable(temp),
                           earlier.empty() ? earlier : Readable(earlier));
}

// The full name with the "\\?\" prefix, which lifts the MAX_PATH limit from every call below;
// devices ("\\.\NUL") and names that already carry it stay as they are.
std::wstring ExtendedName(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) return path;
    DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) Fail(::GetLastError());
    std::wstring full(size, L'\0');
    size = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (size == 0 || size >= full.size()) Fail(size == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE);
    full.resize(size);
    if (full.rfind(L"\\\\.\\", 0) == 0 || full.rfind(L"\\\\?\\", 0) == 0) return full;
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// The file a link or junction names, for an open handle; the name as given when Windows cannot
// tell.
fs::path FinalName(HANDLE file, const fs::path& given) {
    std::wstring name(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(file, name.data(), static_cast<DWORD>(name.size()), FILE_NAME_NORMALIZED);
    if (length >= name.size()) {
        name.resize(length + 1);
        length = ::GetFinalPathNameByHandleW(file, name.data(), static_cast<DWORD>(name.size()), FILE_NAME_NORMALIZED);
    }
    if (length == 0 || length >= name.size()) return given;
    name.resize(length);
    return fs::path(name);
}

std::wstring RandomName(std::mt19937& random) {
    static const wchar_t alphabet[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, std::size(alphabet) - 2);
    std::wstring name = L".kv-";
    for (std::size_t i = 0; i < TempRandomChars; ++i) name += alphabet[pick(random)];
    return name;
}

// Removes the temporary files in this folder that nobody holds open: a save keeps its own open
// without delete sharing, so only those of a process that was killed go.
void RemoveAbandonedTemps(const fs::path& folder) {
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = (folder / L".kv-*").native();
    const HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        const bool plain = std::all_of(name.begin() + 4, name.end(), [](wchar_t c) { return std::iswalnum(c); });
        if (name.size() == 4 + TempRandomChars && plain && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            ::DeleteFileW((folder / name).c_str());
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

// Written through, so that FlushFileBuffers at the end has little left to do.
HANDLE CreateTemp(const fs::path& folder, fs::path& tempPath) {
    std::random_device seed;
    std::mt19937 random(seed() ^ ::GetCurrentProcessId());
    for (int attempt = 0; attempt < TempNameAttempts; ++attempt) {
        const fs::path path = folder / RandomName(random);
        const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            tempPath = path;
            return file;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) return INVALID_HANDLE_VALUE;
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

// A folder that takes no new file at all leaves writing in place as the only way to save; a
// full disk or a name too long does not count, as writing in place could fail the same way.
bool FolderRefusesNewFiles(DWORD error) { return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT; }

// A new name for the earlier file while ReplaceFileW swaps the two.
std::optional<fs::path> BackupName(const fs::path& folder) {
    std::random_device seed;
    std::mt19937 random(seed() ^ ::GetCurrentProcessId());
    for (int attempt = 0; attempt < TempNameAttempts; ++attempt) {
        fs::path path = folder / (RandomName(random) + BackupSuffix);
        if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return path;
    }
    return std::nullopt;
}

}  // namespace

FileReplacement::FileReplacement(const std::string& pathUtf8, SpecialTargets special, NewFileAccess)
    : handle_(FromHandle(INVALID_HANDLE_VALUE)) {
    // A NUL would end the name early and create a different file; like any impossible name it
    // reads as an invalid file name, on every platform.
    if (pathUtf8.find('\0') != std::string::npos) Fail(ERROR_PATH_NOT_FOUND);
    const auto widePath = WideFromUtf8(pathUtf8);
    if (!widePath) Fail(::GetLastError());
    const std::wstring name = ExtendedName(*widePath);

    // An existing target must be writable itself (read-only attribute, sharing, access rights):
    // replacing it would otherwise succeed where writing it must not. The handle stays ready for
    // writing in place should the folder refuse new files. Nobody else may write the file while
    // it is open here, nor hold it open for writing now: a second save of the same file, or
    // another program writing it, would otherwise mix its bytes with ours, so it is refused
    // (ERROR_SHARING_VIOLATION) while the first holds it.
    const HANDLE existing = ::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_NOT_FOUND) Fail(::GetLastError());
    fs::path target(name);
    if (existing != INVALID_HANDLE_VALUE) {
        if (::GetFileType(existing) != FILE_TYPE_DISK) {
            // A pipe or a device (NUL, CON) is written directly.
            if (special == SpecialTargets::Refuse) {
                ::CloseHandle(existing);
                Fail(ERROR_ACCESS_DENIED);
            }
            handle_ = FromHandle(existing);
            return;
        }
        target = FinalName(existing, target);
    }

    const fs::path folder = target.parent_path();
    RemoveAbandonedTemps(folder);
    fs::path tempPath;
    const HANDLE temp = CreateTemp(folder, tempPath);
    if (temp == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (existing == INVALID_HANDLE_VALUE || !FolderRefusesNewFiles(error)) {
            if (existing != INVALID_HANDLE_VALUE) ::CloseHandle(existing);
            Fail(error);
        }
        // Nothing is changed before the first write, so a save given up before it keeps the file.
        handle_ = FromHandle(existing);
        inPlace_ = true;
        return;
    }
    if (existing != INVALID_HANDLE_VALUE) ::CloseHandle(existing);
    handle_ = FromHandle(temp);
    tempPath_ = tempPath;
    targetPath_ = target;
}

FileReplacement::FileReplacement(StandardOutputTarget)
    : handle_(FromHandle(::GetStdHandle(STD_OUTPUT_HANDLE))), ownsHandle_(false) {
    if (AsHandle(handle_) == nullptr || AsHandle(handle_) == INVALID_HANDLE_VALUE) {
        handle_ = FromHandle(INVALID_HANDLE_VALUE);
        Fail(ERROR_INVALID_HANDLE);
    }
}

FileReplacement::FileReplacement(const std::string& pathUtf8, NewFileOnlyTarget, NewFileAccess)
    : handle_(FromHandle(INVALID_HANDLE_VALUE)) {
    if (pathUtf8.find('\0') != std::string::npos) Fail(ERROR_PATH_NOT_FOUND);
    const auto widePath = WideFromUtf8(pathUtf8);
    if (!widePath) Fail(::GetLastError());
    const std::wstring name = ExtendedName(*widePath);
    // CREATE_NEW fails on any existing name, a link included, and so never writes through one.
    const HANDLE file = ::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) Fail(::GetLastError());
    handle_ = FromHandle(file);
    createdPath_ = name;
}

FileReplacement::~FileReplacement() {
    if (AsHandle(handle_) != INVALID_HANDLE_VALUE && ownsHandle_) ::CloseHandle(AsHandle(handle_));
    if (!tempPath_.empty()) ::DeleteFileW(tempPath_.c_str());
    if (!createdPath_.empty()) ::DeleteFileW(createdPath_.c_str());
}

void FileReplacement::Write(const std::uint8_t* data, std::size_t size) {
    // Once a byte has gone into a file written in place, the earlier content is gone.
    const Outcome failed = inPlace_ ? Outcome::MayBeIncomplete : Outcome::EarlierKept;
    while (size > 0) {
        // WriteFile counts in DWORDs; 1 GiB requests keep well inside that.
        const auto request = static_cast<DWORD>(std::min<std::size_t>(size, 0x40000000u));
        DWORD written = 0;
        if (!::WriteFile(AsHandle(handle_), data, request, &written, nullptr)) Fail(::GetLastError(), failed);
        if (written == 0) throw FileReplaceError(FileReplaceError::NoProgress, failed);
        data += written;
        size -= written;
    }
}

void FileReplacement::Close() {
    const HANDLE file = AsHandle(handle_);
    if (file == INVALID_HANDLE_VALUE) return;
    if (inPlace_ && (!::SetEndOfFile(file) || !::FlushFileBuffers(file))) {
        Fail(::GetLastError(), Outcome::MayBeIncomplete);
    }
    if ((!tempPath_.empty() || !createdPath_.empty()) && !::FlushFileBuffers(file)) {
        Fail(::GetLastError());  // the destructor cleans up
    }
    handle_ = FromHandle(INVALID_HANDLE_VALUE);
    if (ownsHandle_ && !::CloseHandle(file)) {
        const DWORD error = ::GetLastError();
        if (tempPath_.empty()) Fail(error, inPlace_ ? Outcome::NotDurable : Outcome::EarlierKept);
        Fail(error);  // the destructor removes the temporary file
    }
    createdPath_.clear();
    if (tempPath_.empty()) return;

    // From here on the temporary file holds the only whole copy of the new content: a failure
    // keeps it and names it.
    const fs::path temp = std::exchange(tempPath_, fs::path());
    const std::optional<fs::path> backupName = BackupName(targetPath_.parent_path());
    if (!backupName) Fail(ERROR_FILE_EXISTS, Outcome::TemporaryKept, temp);
    const fs::path& backup = *backupName;
    // ReplaceFileW keeps the earlier file's attributes and security, and with a backup name it
    // never leaves the target without either version.
    if (::ReplaceFileW(targetPath_.c_str(), temp.c_str(), backup.c_str(), REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                       nullptr)) {
        ::DeleteFileW(backup.c_str());  // a leftover copy of the earlier file is no failure
        return;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
        // The earlier file has its backup name already; put it back under its own.
        if (!::MoveFileExW(backup.c_str(), targetPath_.c_str(), MOVEFILE_WRITE_THROUGH)) {
            Fail(error, Outcome::TemporaryKept, temp, backup);
        }
        Fail(error, Outcome::TemporaryKept, temp);
    }
    if (error != ERROR_FILE_NOT_FOUND) Fail(error, Outcome::TemporaryKept, temp);
    // The missing file is the temporary one (removed by someone else): the earlier file stays.
    if (::GetFileAttributesW(targetPath_.c_str()) != INVALID_FILE_ATTRIBUTES) Fail(error);
    // No target (any more): the new file simply takes the name.
    if (!::MoveFileExW(temp.c_str(), targetPath_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        Fail(::GetLastError(), Outcome::TemporaryKept, temp);
    }
}

fs::path UserStateFolder(int& error) {
    const wchar_t* local = ::_wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || local[0] == L'\0') {
        error = ERROR_PATH_NOT_FOUND;
        return {};
    }
    const fs::path folder = fs::path(local) / L"kelvane";
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        error = static_cast<int>(::GetLastError());
        return {};
    }
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        error = ERROR_ACCESS_DENIED;
        return {};
    }
    error = 0;
    return folder;
}

}  // namespace kelvane
