#pragma once
// Writing a Standard MIDI File to disk. One implementation per platform (FileOutput_posix.cpp,
// FileOutput_win.cpp); the writer sees only this. Nothing is buffered: after every Write the
// file holds exactly the bytes written so far, so a failure leaves the file as far as it got.

#include <cstddef>
#include <cstdint>
#include <string>

namespace smf {

class OutputFile {
public:
    // Creates the file, or replaces and empties an existing one (others may still open it).
    // Throws EInOutError with the platform's error mapped onto the file-error codes.
    explicit OutputFile(const std::string& pathUtf8);
    // Closes the file if Close() was not called; errors are not reported from here.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Writes all `size` bytes in large requests, continuing after short writes. Throws
    // EInOutError: the system's code for a refused write, 101 for a write that makes no progress.
    void Write(const std::uint8_t* data, std::size_t size);

    // Closes the file; throws EInOutError when the system reports a failure.
    void Close();

private:
    std::intptr_t handle_;
};

}  // namespace smf
