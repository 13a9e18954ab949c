#pragma once
// A fresh folder under the system's temporary directory, removed with everything in it.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path File(const std::string& name) const { return path_ / name; }
    // Writes `bytes` to a file in the folder and returns its full path.
    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;

private:
    std::filesystem::path path_;
};

}  // namespace testsupport
