#pragma once
// Writing a whole file so that a failure never costs the user the earlier one. One
// implementation per platform (FileOutput_posix.cpp, FileOutput_win.cpp); the writers see only
// this. A regular file (or a new name) is written to a temporary file in the same folder, flushed
// to disk and renamed over the target only by Close(): until then, and after any failure, the
// earlier file is exactly as it was and the temporary file is gone. The target keeps its
// permission bits, and a symbolic link is written through to the file it names.
//
// Two targets are written directly instead: a regular file whose folder refuses a temporary file
// while the file itself is writable (emptied first, then filled as far as the writes get), and an
// existing target that is not a regular file (a FIFO, a pipe, a device), which is opened for
// writing only. A FIFO without a reader fails at once; a pipe whose reader has gone fails the
// write (the broken-pipe signal is held back while writing, so it never ends the process).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace smf {

// What an existing target that is neither a regular file nor a folder gets.
enum class SpecialTargets {
    WriteThrough,  // written to directly (kelvane-cli: `export DUMP /dev/stdout`)
    Refuse,        // refused as access denied (the window: its user picks files, not devices)
};

// Selects the process's standard output as the target.
struct StandardOutputTarget {};
inline constexpr StandardOutputTarget StandardOutput{};

class OutputFile {
public:
    // Prepares the target (see above). Throws EInOutError with the platform's error mapped onto
    // the file-error codes: a missing folder is 3, a read-only target or folder 5, a folder as
    // target 5.
    explicit OutputFile(const std::string& pathUtf8, SpecialTargets special = SpecialTargets::WriteThrough);
    // Writes to the process's standard output, which stays open afterwards.
    explicit OutputFile(StandardOutputTarget);
    // Without a successful Close(): closes, and removes the temporary file, so the earlier file
    // stays. Errors are not reported from here.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Writes all `size` bytes in large requests, continuing after short writes. Throws
    // EInOutError: the system's code for a refused write, 101 for a write that makes no progress.
    void Write(const std::uint8_t* data, std::size_t size);

    // Flushes the bytes to disk and puts the file in the target's place; throws EInOutError when
    // any of that fails, and the earlier file then stays.
    void Close();

private:
    std::intptr_t handle_;
    std::filesystem::path targetPath_;  // the name the temporary file replaces
    std::filesystem::path tempPath_;    // empty when written directly
    bool ownsHandle_ = true;  // false for standard output
    bool mayBreakPipe_ = false;
};

// Writes `size` bytes as the whole content of a file, as OutputFile does, and closes it.
void WriteFileSafely(const std::string& pathUtf8, const std::uint8_t* data, std::size_t size,
                     SpecialTargets special = SpecialTargets::WriteThrough);

}  // namespace smf
