// The floor for kelvane-cli's list and export: only the work no implementation can skip.
//   cli_baseline list DUMP          read, split into the store, print the list lines
//   cli_baseline export DUMP OUT    read, split, build the whole file in memory, one write()
// It trusts its input (no limits checked beyond the store's size) and shares no code with
// kelvane-cli, so the comparison shows what the core's layers cost.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int Slots = 1000;
constexpr std::size_t SlotBytes = 65536;
constexpr std::size_t BlockBytes = std::size_t{1} << 20;

std::uint8_t Store[Slots][SlotBytes];
std::uint16_t Lengths[Slots];
int Count = 0;

bool Load(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const auto block = std::make_unique<std::uint8_t[]>(BlockBytes);
    bool inMessage = false;
    std::size_t length = 0;
    for (;;) {
        const ssize_t got = ::read(fd, block.get(), BlockBytes);
        if (got <= 0) break;
        const std::uint8_t* at = block.get();
        const std::uint8_t* end = at + got;
        while (at < end && Count < Slots) {
            if (!inMessage) {
                at = static_cast<const std::uint8_t*>(std::memchr(at, 0xF0, static_cast<std::size_t>(end - at)));
                if (!at) break;
                inMessage = true;
                length = 0;
            }
            const auto* f7 = static_cast<const std::uint8_t*>(std::memchr(at, 0xF7, static_cast<std::size_t>(end - at)));
            const std::size_t chunk = static_cast<std::size_t>((f7 ? f7 : end) - at);
            std::memcpy(&Store[Count][length], at, chunk);
            length += chunk;
            if (!f7) break;
            Store[Count][length] = 0xF7;
            Lengths[Count++] = static_cast<std::uint16_t>(length);
            inMessage = false;
            at = f7 + 1;
        }
    }
    ::close(fd);
    return true;
}

void PrintList() {
    std::string text;
    char line[32];
    for (int k = 0; k < Count; ++k) {
        const int n = std::snprintf(line, sizeof line, "%04d%s %uByte\n", k + 1, Store[k][1] == 0x42 ? " 42H" : "",
                                    unsigned{Lengths[k]});
        text.append(line, static_cast<std::size_t>(n));
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
}

bool WriteSmf(const char* path) {
    std::vector<std::uint8_t> file;
    std::size_t body = 0;
    for (int k = 0; k < Count; ++k) body += 2 + (Lengths[k] < 0x80 ? 1 : Lengths[k] < 0x4000 ? 2 : 3) + Lengths[k];
    file.reserve(26 + body);
    const std::uint8_t header[18] = {0x4D, 0x54, 0x68, 0x64, 0, 0, 0, 6, 0, 0, 0, 1, 0, 0x30, 0x4D, 0x54, 0x72, 0x6B};
    file.insert(file.end(), header, header + 18);
    const auto track = static_cast<std::uint32_t>(body + 4);
    for (int shift = 24; shift >= 0; shift -= 8) file.push_back(static_cast<std::uint8_t>(track >> shift));
    for (int k = 0; k < Count; ++k) {
        const unsigned length = Lengths[k];
        file.push_back(0x60);
        file.push_back(0xF0);
        if (length >= 0x4000) file.push_back(static_cast<std::uint8_t>(0x80 | (length >> 14)));
        if (length >= 0x80) file.push_back(static_cast<std::uint8_t>(0x80 | ((length >> 7) & 0x7F)));
        file.push_back(static_cast<std::uint8_t>(length & 0x7F));
        file.insert(file.end(), &Store[k][1], &Store[k][1] + length);
    }
    file.insert(file.end(), {0x30, 0xFF, 0x2F, 0x00});
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const bool written = ::write(fd, file.data(), file.size()) == static_cast<ssize_t>(file.size());
    return ::close(fd) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (!((mode == "list" && argc == 3) || (mode == "export" && argc == 4))) {
        std::fprintf(stderr, "usage: cli_baseline list DUMP | export DUMP OUT\n");
        return 2;
    }
    if (!Load(argv[2])) {
        std::perror(argv[2]);
        return 1;
    }
    if (mode == "list") {
        PrintList();
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (!WriteSmf(argv[3])) {
        std::perror(argv[3]);
        return 1;
    }
    return 0;
}
