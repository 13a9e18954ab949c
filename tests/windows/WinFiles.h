#pragma once
// Helpers for the Windows file tests: UTF-8 names of temporary paths, and handles held by the
// test itself to play "another program".

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace wintest {

inline std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// Writes a file through the wide API, so that any name works.
inline void WriteWholeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + Utf8(path));
    DWORD written = 0;
    const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    ::CloseHandle(file);
    if (!ok) throw std::runtime_error("cannot write " + Utf8(path));
}

// A handle to an existing file, opened with the given access and share mode, closed at the end.
class HeldFile {
public:
    HeldFile(const std::filesystem::path& path, DWORD access, DWORD shareMode)
        : handle_(::CreateFileW(path.c_str(), access, shareMode, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr)),
          error_(handle_ == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS) {}
    ~HeldFile() {
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    DWORD Error() const { return error_; }
    HANDLE Handle() const { return handle_; }

private:
    HANDLE handle_;
    DWORD error_;
};

inline bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A name that no ANSI code page holds whole: Japanese, Korean, a Latin letter outside CP932 and
// a character beyond the Basic Multilingual Plane.
inline const std::filesystem::path& NameOutsideCodePages() {
    static const std::filesystem::path name(u8"ダンプ한글ä🎹");
    return name;
}

}  // namespace wintest
