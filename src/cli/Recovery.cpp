#include "cli/Recovery.h"

#include <filesystem>
#include <system_error>

#include "common/Failure.h"
#include "smf/DumpWriter.h"
#include "sysex/Store.h"

#if defined(_WIN32)
#include <process.h>
#define KELVANE_GETPID _getpid
#else
#include <unistd.h>
#define KELVANE_GETPID getpid
#endif

namespace cli {

namespace {

constexpr int TriesPerFolder = 50;

// Paths are UTF-8 throughout the program; Windows' paths are not bytes, so they go through
// char8_t on the way.
std::filesystem::path PathFromUtf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}
std::string PathToUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// Creates a file that did not exist and fills it; false when the name was taken or the
// folder refused.
bool WriteNew(const std::filesystem::path& path) {
    std::error_code error;
    if (std::filesystem::exists(path, error) || error) return false;
    try {
        kelvane::OutputFile file(PathToUtf8(path));
        smf::WriteDump(file, sysex::StoreMessages());
        file.Close();
        return true;
    } catch (const kelvane::Failure&) {
        return false;
    }
}

std::string TryFolder(const std::filesystem::path& folder, const std::string& stem) {
    for (int n = 1; n <= TriesPerFolder; ++n) {
        const std::string name = stem + (n == 1 ? "" : "-" + std::to_string(n)) + ".syx";
        const std::filesystem::path path = folder / PathFromUtf8(name);
        if (WriteNew(path)) return PathToUtf8(path);
        std::error_code error;
        // A folder that is not there or refuses files refuses every name alike.
        if (!std::filesystem::is_directory(folder, error)) return {};
    }
    return {};
}

}  // namespace

std::string SaveRecoveryDump(const std::string& targetPath) {
    const std::filesystem::path target = PathFromUtf8(targetPath);
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    const std::string stem = PathToUtf8(target.filename()) + ".recovered";
    if (std::string saved = TryFolder(folder, stem); !saved.empty()) return saved;
    std::error_code error;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
    if (error) return {};
    return TryFolder(temp, "kelvane-recovered-" + std::to_string(KELVANE_GETPID()));
}

}  // namespace cli
