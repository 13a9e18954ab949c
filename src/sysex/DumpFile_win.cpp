#include "sysex/DumpFile.h"

#include <windows.h>

#include <algorithm>

#include "common/Failure.h"
#include "common/WideText.h"

namespace sysex {

namespace {

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

DumpFile::DumpFile(const std::string& pathUtf8)
    : path_(pathUtf8), handle_(reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE)) {
    const auto widePath = kelvane::WideFromUtf8(pathUtf8);
    if (!widePath) throw kelvane::Failure(CannotOpenText(path_));
    // Share mode 0: the open fails while anyone else holds the file, and nobody else can open
    // it while the loader reads, so the dump cannot change under the scan.
    const HANDLE file = ::CreateFileW(widePath->c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw kelvane::Failure(CannotOpenText(path_));
    // Only files on disk: a pipe could hang the window, and devices such as NUL or CON are no
    // dumps.
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        throw kelvane::Failure(CannotOpenText(path_));
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) {
        ::CloseHandle(file);
        throw kelvane::Failure(CannotOpenText(path_));
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    size_ = static_cast<std::uint64_t>(size.QuadPart);
}

DumpFile::~DumpFile() {
    if (AsHandle(handle_) != INVALID_HANDLE_VALUE) ::CloseHandle(AsHandle(handle_));
}

std::size_t DumpFile::Read(std::uint8_t* buffer, std::size_t size) {
    // ReadFile counts in DWORDs; a shorter read is fine, the caller reads on.
    const auto request = static_cast<DWORD>(std::min<std::size_t>(size, 0x40000000u));
    DWORD got = 0;
    if (!::ReadFile(AsHandle(handle_), buffer, request, &got, nullptr)) {
        throw kelvane::Failure(CannotOpenText(path_));
    }
    return got;
}

std::size_t DumpFile::ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
    std::size_t total = 0;
    while (total < size) {
        // An offset in the OVERLAPPED record reads there on a synchronous handle too.
        OVERLAPPED at{};
        const std::uint64_t position = offset + total;
        at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        const auto request = static_cast<DWORD>(std::min<std::size_t>(size - total, 0x40000000u));
        DWORD got = 0;
        if (!::ReadFile(AsHandle(handle_), buffer + total, request, &got, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) break;
            throw kelvane::Failure(CannotOpenText(path_));
        }
        if (got == 0) break;
        total += got;
    }
    return total;
}

}  // namespace sysex
