#include "smf/FileOutput.h"

#include <windows.h>

#include <algorithm>
#include <random>

#include "common/WideText.h"
#include "smf/InOutError.h"

namespace smf {

namespace {

namespace fs = std::filesystem;

// A temporary file is "." + the target's name + "." + six random characters + this suffix, so
// that a later save of the same target finds the ones a killed process left behind.
constexpr wchar_t TempSuffix[] = L".kelvane-tmp";
constexpr std::size_t TempRandomChars = 6;
constexpr int TempNameAttempts = 100;

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
std::intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

// Windows error codes are the file-error codes themselves (2 file not found, 3 path not found,
// 4 too many open files, 5 access denied); every other code reads as its number.
EInOutError ErrorOf(DWORD code) { return EInOutError(static_cast<int>(code)); }
EInOutError LastError() { return ErrorOf(::GetLastError()); }

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

// Removes this target's temporary files that nobody holds open: a save keeps its own open
// without delete sharing, so only those of a process that was killed go.
void RemoveAbandonedTemps(const fs::path& folder, const std::wstring& prefix) {
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = (folder / (prefix + L"*" + TempSuffix)).native();
    const HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name.size() == prefix.size() + TempRandomChars + (std::size(TempSuffix) - 1)) {
            ::DeleteFileW((folder / name).c_str());
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

HANDLE CreateTemp(const fs::path& folder, const std::wstring& prefix, fs::path& tempPath) {
    static const wchar_t alphabet[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed() ^ ::GetCurrentProcessId());
    std::uniform_int_distribution<std::size_t> pick(0, std::size(alphabet) - 2);
    for (int attempt = 0; attempt < TempNameAttempts; ++attempt) {
        std::wstring name = prefix;
        for (std::size_t i = 0; i < TempRandomChars; ++i) name += alphabet[pick(random)];
        name += TempSuffix;
        const fs::path path = folder / name;
        const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            tempPath = path;
            return file;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) return INVALID_HANDLE_VALUE;
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

OutputFile::OutputFile(const std::string& pathUtf8, SpecialTargets special)
    : handle_(FromHandle(INVALID_HANDLE_VALUE)) {
    // A NUL would end the name early and create a different file; like any impossible name it
    // reads as an invalid file name, on every platform.
    if (pathUtf8.find('\0') != std::string::npos) throw EInOutError(PathNotFoundCode);
    const auto widePath = kelvane::WideFromUtf8(pathUtf8);
    if (!widePath) throw LastError();

    // An existing target must be writable itself (read-only attribute, sharing, access rights):
    // replacing it would otherwise succeed where writing it must not. The handle stays ready for
    // writing in place should the folder refuse a temporary file.
    const HANDLE existing = ::CreateFileW(widePath->c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_NOT_FOUND) throw LastError();
    fs::path target(*widePath);
    if (existing != INVALID_HANDLE_VALUE) {
        if (::GetFileType(existing) != FILE_TYPE_DISK) {
            // A pipe or a device (NUL, CON) is written directly.
            if (special == SpecialTargets::Refuse) {
                ::CloseHandle(existing);
                throw EInOutError(AccessDeniedCode);
            }
            handle_ = FromHandle(existing);
            return;
        }
        target = FinalName(existing, target);
    }

    const fs::path folder = target.parent_path();
    const std::wstring prefix = L"." + target.filename().native() + L".";
    RemoveAbandonedTemps(folder, prefix);
    fs::path tempPath;
    const HANDLE temp = CreateTemp(folder, prefix, tempPath);
    if (temp == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (existing == INVALID_HANDLE_VALUE) throw ErrorOf(error);
        if (!::SetEndOfFile(existing)) {
            const DWORD truncateError = ::GetLastError();
            ::CloseHandle(existing);
            throw ErrorOf(truncateError);
        }
        handle_ = FromHandle(existing);
        return;
    }
    if (existing != INVALID_HANDLE_VALUE) ::CloseHandle(existing);
    handle_ = FromHandle(temp);
    tempPath_ = tempPath;
    targetPath_ = target;
}

OutputFile::OutputFile(StandardOutputTarget)
    : handle_(FromHandle(::GetStdHandle(STD_OUTPUT_HANDLE))), ownsHandle_(false) {
    if (AsHandle(handle_) == nullptr || AsHandle(handle_) == INVALID_HANDLE_VALUE) {
        handle_ = FromHandle(INVALID_HANDLE_VALUE);
        throw EInOutError(ERROR_INVALID_HANDLE);
    }
}

OutputFile::~OutputFile() {
    if (AsHandle(handle_) != INVALID_HANDLE_VALUE && ownsHandle_) ::CloseHandle(AsHandle(handle_));
    if (!tempPath_.empty()) ::DeleteFileW(tempPath_.c_str());
}

void OutputFile::Write(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        // WriteFile counts in DWORDs; 1 GiB requests keep well inside that.
        const auto request = static_cast<DWORD>(std::min<std::size_t>(size, 0x40000000u));
        DWORD written = 0;
        if (!::WriteFile(AsHandle(handle_), data, request, &written, nullptr)) throw LastError();
        if (written == 0) throw EInOutError(DiskFullCode);
        data += written;
        size -= written;
    }
}

void OutputFile::Close() {
    const HANDLE file = AsHandle(handle_);
    if (file == INVALID_HANDLE_VALUE) return;
    if (!tempPath_.empty() && !::FlushFileBuffers(file)) throw LastError();  // the destructor cleans up
    handle_ = FromHandle(INVALID_HANDLE_VALUE);
    if (ownsHandle_ && !::CloseHandle(file)) throw LastError();
    if (tempPath_.empty()) return;
    // ReplaceFileW keeps the earlier file's attributes and security; a target that is gone by
    // now (or never was) simply receives the new file.
    if (!::ReplaceFileW(targetPath_.c_str(), tempPath_.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                        nullptr)) {
        const DWORD replaceError = ::GetLastError();
        const bool noTarget = replaceError == ERROR_FILE_NOT_FOUND;
        if (!noTarget || !::MoveFileExW(tempPath_.c_str(), targetPath_.c_str(),
                                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            const DWORD error = noTarget ? ::GetLastError() : replaceError;
            ::DeleteFileW(tempPath_.c_str());
            tempPath_.clear();
            throw ErrorOf(error);
        }
    }
    tempPath_.clear();
}

}  // namespace smf
