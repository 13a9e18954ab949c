#include "cli/Recovery.h"

#include <filesystem>
#include <system_error>

#include "common/FileReplacement.h"
#include "common/Failure.h"
#include "smf/DumpWriter.h"
#include "sysex/Store.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

constexpr int TriesPerFolder = 50;

// Paths are UTF-8 throughout the program; Windows' paths are not bytes, so they go through
// char8_t on the way.
fs::path PathFromUtf8(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }
std::string PathToUtf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

enum class Written { Yes, NameTaken, Refused };

Written WriteNew(const fs::path& path) {
    try {
        kelvane::OutputFile file(PathToUtf8(path), kelvane::NewFileOnly);
        smf::WriteDump(file, sysex::StoreMessages());
        file.Close();
        return Written::Yes;
    } catch (const kelvane::Failure&) {
        std::error_code error;
        // A name that is taken, as a file or as a link (dangling or not), is left alone.
        return fs::symlink_status(path, error).type() != fs::file_type::not_found && !error ? Written::NameTaken
                                                                                            : Written::Refused;
    }
}

std::string TryFolder(const fs::path& folder, const std::string& stem) {
    for (int n = 1; n <= TriesPerFolder; ++n) {
        const std::string name = stem + (n == 1 ? "" : "-" + std::to_string(n)) + ".syx";
        const fs::path path = folder / PathFromUtf8(name);
        switch (WriteNew(path)) {
        case Written::Yes: return PathToUtf8(path);
        case Written::NameTaken: continue;
        case Written::Refused: return {};  // a full disk or a shut folder refuses every name alike
        }
    }
    return {};
}

// Beside the target only where the user would look and nobody else can plant names: the target
// is a file (or none yet), not a device or a FIFO whose folder (/dev) is no place for files, and
// its folder is not one that every user may write to (/tmp).
bool BesideTheTargetIsFit(const fs::path& target, const fs::path& folder) {
    std::error_code error;
    const fs::file_status file = fs::status(target, error);
    if (file.type() != fs::file_type::not_found && file.type() != fs::file_type::regular) return false;
    const fs::file_status place = fs::status(folder, error);
    if (error || place.type() != fs::file_type::directory) return false;
    return (place.permissions() & fs::perms::others_write) == fs::perms::none;
}

}  // namespace

std::string SaveRecoveryDump(const std::string& targetPath) {
    const fs::path target = PathFromUtf8(targetPath);
    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    const std::string stem = PathToUtf8(target.filename()) + ".recovered";
    if (BesideTheTargetIsFit(target, folder)) {
        if (std::string saved = TryFolder(folder, stem); !saved.empty()) return saved;
    }
    int error = 0;
    const fs::path state = kelvane::UserStateFolder(error);
    if (state.empty()) return {};
    return TryFolder(state, stem);
}

}  // namespace cli
