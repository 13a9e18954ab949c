#pragma once
// Writing a whole file so that no failure costs the user the earlier one: the one way every
// writer of a user's file (the dump and SMF writers, the settings store) puts a new file in
// place. One implementation per platform (FileReplacement_posix.cpp, FileReplacement_win.cpp).
//
// A regular file (or a new name) is written to a temporary file in the same folder, flushed to
// disk and renamed over the target only by Close(): until then, and after any failure (a full
// disk, no free inodes, too many open files, an I/O error, the process killed), the earlier file
// is exactly as it was. Temporary names are short (".kv-" and six characters) so that every name
// the file system takes for the target can be saved; a killed save's temporary file stays until
// the next save into the same folder removes it. The target keeps its permission bits, and a
// symbolic link is written through to the file it names.
//
// Written directly instead are: an existing regular file that is writable while its folder
// refuses new files (permissions, a read-only mount), the only way to save it at all; and an
// existing target
// that is not a regular file (a FIFO, a pipe, a device), opened for writing only. A FIFO without
// a reader fails at once; a pipe whose reader has gone fails the write (the broken-pipe signal is
// held back while writing, so it never ends the process).
//
// Writing in place keeps the new content in memory until Close(), which then takes an exclusive
// lock on the target (waiting a few seconds for another save of it at most), keeps a copy of
// the earlier file in the user's own state folder (UserStateFolder()), secures the room for the
// new content on the disk, and only then overwrites the file; the copy goes once the new content
// is on disk. Where the lock, the copy or the room cannot be had, the save is refused and the
// target is untouched. POSIX only; on Windows the file is written over directly.
//
// A file created with NewFileOnly is created exclusively (never over an existing name, never
// through a symbolic link) and written directly; without a successful Close() it is removed.
//
// One thread at a time per object.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kelvane {

// What an existing target that is neither a regular file nor a folder gets.
enum class SpecialTargets {
    WriteThrough,  // written to directly (kelvane-cli: `export DUMP /dev/stdout`)
    Refuse,        // refused as access denied (the window and the settings: files only)
};

// The permissions a file that does not exist yet is created with (an existing one keeps its own).
enum class NewFileAccess {
    Everyone,   // 0666 less the umask, as any program's new file
    OwnerOnly,  // 0600: private settings
};

// Selects creating a new file only.
struct NewFileOnlyTarget {};
inline constexpr NewFileOnlyTarget NewFileOnly{};

// Selects the process's standard output as the target.
struct StandardOutputTarget {};
inline constexpr StandardOutputTarget StandardOutput{};

// A failed step: the platform's error number (errno; GetLastError() on Windows) and what became
// of the target, so that the message can tell the user what is left.
class FileReplaceError : public std::exception {
public:
    enum class Outcome {
        EarlierKept,      // the earlier file is as it was (or there was none), nothing is left over
        MayBeIncomplete,  // written in place: the target holds only part of the new content; the
                          // earlier content is whole under EarlierFile() if not empty
        EarlierNotCopied, // written in place was refused: no copy of the earlier file could be kept
                          // in the user's state folder (the system's code says why); it is as it was
        TargetBusy,       // written in place was refused: another save of the same file went on
                          // longer than a save waits; the earlier file is as it was
        NotDurable,       // the new file is in place, but the system did not confirm it is on disk
        TemporaryKept,    // the replace failed: the new content is whole in TemporaryFile(), and
                          // the earlier file in its place, or under EarlierFile() if not empty
    };
    // A write that moved no byte and reported no error.
    static constexpr int NoProgress = -1;

    FileReplaceError(int systemCode, Outcome outcome, std::filesystem::path temporaryFile = {},
                     std::filesystem::path earlierFile = {})
        : systemCode_(systemCode),
          outcome_(outcome),
          temporaryFile_(std::move(temporaryFile)),
          earlierFile_(std::move(earlierFile)) {}

    int SystemCode() const noexcept { return systemCode_; }
    Outcome What() const noexcept { return outcome_; }
    const std::filesystem::path& TemporaryFile() const noexcept { return temporaryFile_; }
    const std::filesystem::path& EarlierFile() const noexcept { return earlierFile_; }
    const char* what() const noexcept override { return "file replacement failed"; }

private:
    int systemCode_;
    Outcome outcome_;
    std::filesystem::path temporaryFile_;
    std::filesystem::path earlierFile_;
};

class FileReplacement {
public:
    // Prepares the target (see above): an existing target must be writable, and the temporary
    // file is created here, so a target that cannot be saved fails now, before anything is
    // gathered for it. Throws FileReplaceError (the earlier file kept).
    FileReplacement(const std::string& pathUtf8, SpecialTargets special,
                    NewFileAccess access = NewFileAccess::Everyone);
    // Writes to the process's standard output, which stays open afterwards.
    explicit FileReplacement(StandardOutputTarget);
    // Creates `pathUtf8` as a new file (see above). Throws FileReplaceError: EEXIST when the name
    // is taken, by a file or a link.
    FileReplacement(const std::string& pathUtf8, NewFileOnlyTarget, NewFileAccess access = NewFileAccess::Everyone);
    // Without a successful Close(): closes, and removes the temporary file, so the earlier file
    // stays. Errors are not reported from here.
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Writes all `size` bytes in large requests, continuing after short writes. Throws
    // FileReplaceError; NoProgress for a write that moves nothing.
    void Write(const std::uint8_t* data, std::size_t size);

    // Flushes the bytes to disk, puts the file in the target's place and flushes the folder.
    // Throws FileReplaceError, whose outcome says what became of the target.
    void Close();

    // The name temporary files begin with.
    static constexpr char TemporaryPrefix[] = ".kv-";

private:
    std::intptr_t handle_;
    std::filesystem::path targetPath_;  // the name the temporary file replaces
    std::filesystem::path tempPath_;    // empty when written directly
    bool ownsHandle_ = true;            // false for standard output
    std::filesystem::path createdPath_;  // a NewFileOnly file, removed unless Close() succeeds
    bool inPlace_ = false;              // an existing file written over
    bool mayBreakPipe_ = false;
    std::vector<std::uint8_t> pending_; // the new content of a file written in place

    void CloseInPlace();
};

// The user's own folder for what the program keeps between runs ($XDG_STATE_HOME/kelvane, else
// ~/.local/state/kelvane; %LOCALAPPDATA%\kelvane on Windows), created (mode 0700) when missing.
// Only a folder that is the user's own and no symbolic link is used. Empty, with `error` set
// (errno; GetLastError() on Windows), when there is none.
std::filesystem::path UserStateFolder(int& error);

}  // namespace kelvane
