#pragma once
// The writers' file: kelvane::FileReplacement (common/FileReplacement.h, which says how a save
// keeps the earlier file), with its failures as EInOutError, the file errors users read.

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/FileReplacement.h"
#include "common/InOutError.h"

namespace kelvane {

class OutputFile {
public:
    // Prepares the target, its temporary file included. Throws EInOutError with the platform's
    // error mapped onto the file-error codes: a missing folder is 3, a read-only target or folder
    // 5, a folder as target 5.
    explicit OutputFile(const std::string& pathUtf8, SpecialTargets special = SpecialTargets::WriteThrough);
    // Writes to the process's standard output, which stays open afterwards.
    explicit OutputFile(StandardOutputTarget);
    // Creates a new file, never over an existing name nor through a link; without a successful
    // Close() it is removed again.
    OutputFile(const std::string& pathUtf8, kelvane::NewFileOnlyTarget);

    // Writes all `size` bytes. Throws EInOutError: the system's code for a refused write, 101 for
    // a write that makes no progress; for a file written in place, the text adds that the file
    // may be incomplete.
    void Write(const std::uint8_t* data, std::size_t size);

    // Flushes the bytes to disk and puts the file in the target's place; throws EInOutError when
    // any of that fails, whose text says what became of the file when it is not the earlier one.
    void Close();

private:
    kelvane::FileReplacement file_;
};

// The failure the user reads for a failed step of a file replacement: the code's text, and
// what became of the file when the earlier one is not simply kept.
EInOutError InOutErrorOf(const kelvane::FileReplaceError& failure);

// Writes `size` bytes as the whole content of a file, as OutputFile does, and closes it.
void WriteFileSafely(const std::string& pathUtf8, const std::uint8_t* data, std::size_t size,
                     SpecialTargets special = SpecialTargets::WriteThrough);

}  // namespace kelvane
