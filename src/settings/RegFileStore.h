#pragma once
// The registry store for platforms without a registry: every key below HKEY_CURRENT_USER lives
// in one text file in regedit's export format (see RegText.h), by default
// $XDG_CONFIG_HOME/ZORVIK.reg, or ~/.config/ZORVIK.reg when XDG_CONFIG_HOME is unset, empty or
// relative.
//
// What it promises beyond the registry calls it stands for:
// - Opening a key writes nothing; the file (and its folder, mode 0700) appear with the first
//   SetValue.
// - SetValue replaces the file through the one safe file replacement (common/FileReplacement.h):
//   a temporary file in the same folder is written, flushed to disk and renamed over the old one,
//   so a crash, a full disk or any other failure leaves the old file whole. A symbolic link at the
//   file's place is followed and stays a link, also when its target does not exist yet (the
//   target is created, mode 0600). A save that would write exactly the bytes the file already
//   holds writes nothing.
// - Saves of several processes are serialised by flock on "ZORVIK.reg.lock" beside the file, held
//   from reading the old file to the rename, so no save is lost in a torn read-modify-write.
// - A file that cannot be parsed counts as holding no keys. The next SetValue keeps a copy of it
//   as "ZORVIK.reg.bad" (replacing an older copy) and replaces it with a valid file; when the copy
//   cannot be written, the save fails and the file is left as it is. An empty file is simply
//   replaced.
// - A file that exists but cannot be read counts as holding no keys, and SetValue fails rather
//   than overwrite what it could not read. Only a regular file is read: a FIFO, a device or a
//   folder at the file's place counts as unreadable (and never blocks).
// Queries read the file afresh every time without taking the lock: the rename makes every read
// see one whole file.

#include <filesystem>
#include <optional>

#include "settings/RegistryStore.h"

namespace settings {

inline constexpr char RegFileName[] = "ZORVIK.reg";

// $XDG_CONFIG_HOME/ZORVIK.reg or ~/.config/ZORVIK.reg (home from $HOME, else the user database);
// nothing when no home folder can be found.
std::optional<std::filesystem::path> DefaultRegFilePath();

class RegFileStore : public RegistryStore {
public:
    // Uses DefaultRegFilePath(), looked up at every CreateKey. When there is none, CreateKey fails
    // with RegPathNotFound.
    RegFileStore() = default;
    explicit RegFileStore(std::filesystem::path file) : file_(std::move(file)) {}

    // Fails only for a subKey that cannot be written as a section name (empty, or with NUL, CR or
    // LF) and when there is no file location.
    RegResult CreateKey(const std::string& subKey, std::unique_ptr<RegistryKey>& key) override;

private:
    std::optional<std::filesystem::path> file_;
};

}  // namespace settings
