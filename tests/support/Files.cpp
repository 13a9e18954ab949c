#include "Files.h"

#include <fstream>
#include <stdexcept>

namespace testsupport {

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in) throw std::runtime_error("cannot read " + file.string());
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in) throw std::runtime_error("cannot read " + file.string());
    return bytes;
}

std::string ReadText(const std::filesystem::path& file) {
    const std::vector<std::uint8_t> bytes = ReadAll(file);
    return {bytes.begin(), bytes.end()};
}

}  // namespace testsupport
