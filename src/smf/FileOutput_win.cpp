#include "smf/FileOutput.h"

#include <windows.h>

#include <algorithm>

#include "common/WideText.h"
#include "smf/InOutError.h"

namespace smf {

namespace {

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Windows error codes are the file-error codes themselves (2 file not found, 3 path not found,
// 4 too many open files, 5 access denied); every other code reads as its number.
EInOutError LastError() { return EInOutError(static_cast<int>(::GetLastError())); }

}  // namespace

OutputFile::OutputFile(const std::string& pathUtf8)
    : handle_(reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE)) {
    // A NUL would end the name early and create a different file; like any impossible name it
    // reads as an invalid file name, on every platform.
    if (pathUtf8.find('\0') != std::string::npos) throw EInOutError(PathNotFoundCode);
    const auto widePath = kelvane::WideFromUtf8(pathUtf8);
    if (!widePath) throw LastError();
    const HANDLE file = ::CreateFileW(widePath->c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw LastError();
    handle_ = reinterpret_cast<std::intptr_t>(file);
}

OutputFile::~OutputFile() {
    if (AsHandle(handle_) != INVALID_HANDLE_VALUE) ::CloseHandle(AsHandle(handle_));
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
    handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
    if (!::CloseHandle(file)) throw LastError();
}

}  // namespace smf
