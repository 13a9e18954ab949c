#pragma once
// The failure of a file operation: a numeric code and the text the user reads. The codes 2 to 5
// are the operating system's error codes on Windows; 100, 101 and 106 belong to the file layer.
// Any other code is the platform's own error number and reads "I/O エラー (<code>)".

#include <string>

#include "common/Failure.h"

namespace kelvane {

inline constexpr int FileNotFoundCode = 2;
inline constexpr int PathNotFoundCode = 3;
inline constexpr int TooManyOpenFilesCode = 4;
inline constexpr int AccessDeniedCode = 5;
inline constexpr int ReadPastEndCode = 100;
inline constexpr int DiskFullCode = 101;          // a full disk, or a write that made no progress
inline constexpr int NumericInputExpectedCode = 106;

// The text of a code: the fixed sentence of the codes above, else "I/O エラー (<code>)".
std::string InOutErrorText(int code);

class EInOutError : public kelvane::Failure {
public:
    // A failure with the code's own text (InOutErrorText).
    explicit EInOutError(int code);
    // A failure with a text of its own: the code's text with what became of the file, say.
    EInOutError(int code, const std::string& message);

    // Maps a POSIX errno onto the rows above: a missing folder (ENOENT), ENOTDIR and
    // ENAMETOOLONG are 3; EACCES, EPERM, EROFS and EISDIR are 5; EMFILE and ENFILE are 4; a full
    // disk or quota (ENOSPC, EDQUOT) is 101. Every other errno keeps its number and always reads
    // "I/O エラー (<errno>)", even where the number equals a code of the table (EIO is 5 on
    // Linux, yet it is no access denial).
    static EInOutError FromErrno(int errnoValue);

    // The table's code, or the platform's error number for a failure without a row of its own.
    int Code() const noexcept { return code_; }

private:
    int code_;
};

}  // namespace kelvane
