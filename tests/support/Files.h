#pragma once
// Reading a whole file back, to compare what the program wrote with what it should have.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// The file's bytes; throws std::runtime_error when it cannot be read.
std::vector<std::uint8_t> ReadAll(const std::filesystem::path& file);

// The same as text, byte for byte.
std::string ReadText(const std::filesystem::path& file);

}  // namespace testsupport
