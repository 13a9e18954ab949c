#include "TempDir.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#ifdef _WIN32
#include <process.h>
#define KELVANE_GETPID _getpid
#else
#include <unistd.h>
#define KELVANE_GETPID getpid
#endif

namespace testsupport {

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        auto candidate = base / ("kelvane-test-" + std::to_string(KELVANE_GETPID()) + "-" +
                                 std::to_string(counter++));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    const auto file = File(name);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + file.string());
    return file.string();
}

}  // namespace testsupport
