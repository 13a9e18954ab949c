#pragma once
// Reading a dump file from disk. One implementation per platform (DumpFile_posix.cpp,
// DumpFile_win.cpp); the loader sees only this.

#include <cstddef>
#include <cstdint>
#include <string>

namespace sysex {

class DumpFile {
public:
    // Opens an existing regular file for reading. Where the platform has share modes the file is
    // opened without sharing, so a file open elsewhere cannot be loaded and nobody else can open
    // it meanwhile. Throws kelvane::Failure "ファイル %s は開けません" with the path as given
    // (UTF-8) when the file is missing, unreadable, a directory, or held elsewhere.
    explicit DumpFile(const std::string& pathUtf8);
    ~DumpFile();
    DumpFile(const DumpFile&) = delete;
    DumpFile& operator=(const DumpFile&) = delete;

    // Reads up to `size` bytes; returns the number read, 0 only at the end of the file.
    // Throws the same failure as the constructor when the system refuses the read.
    std::size_t Read(std::uint8_t* buffer, std::size_t size);

    // The file's size when it was opened.
    std::uint64_t Size() const { return size_; }

    // Reads up to `size` bytes at `offset`, whatever was read before; returns the number read,
    // fewer only at the end of the file. Throws as Read does.
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size);

private:
    std::string path_;
    std::intptr_t handle_;
    std::uint64_t size_ = 0;
};

// The failure text for a dump file that cannot be read.
std::string CannotOpenText(const std::string& pathUtf8);

}  // namespace sysex
