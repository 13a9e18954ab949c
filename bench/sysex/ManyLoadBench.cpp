// Loading a 100 MB dump of 1.6 million messages (a large firmware or sample dump) from the page
// cache, beside the floor: read the file in large blocks and split it with memchr/memcpy into
// memory (one buffer for the bytes, one for where each message ends), with no store behind it.
// Each measurement runs in a child process of its own, so its peak resident memory is its own.
//
//   build/bench/sysex/many_load_bench [runs]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace {

constexpr int kMessages = 1600000;
constexpr std::size_t kBlock = std::size_t{1} << 20;

// 1.6 million messages of 40 to 85 bytes (about 62 on average), as a sample dump's packets
// vary: 100 MB in all.
std::string MakeDump(std::uint64_t& size) {
    const auto file = std::filesystem::temp_directory_path() / "kelvane-bench-many.syx";
    std::FILE* out = std::fopen(file.c_str(), "wb");
    std::vector<std::uint8_t> message;
    size = 0;
    for (int k = 0; k < kMessages; ++k) {
        const std::size_t length = 40 + static_cast<std::size_t>(k) * 7919 % 46;
        message.assign(length, static_cast<std::uint8_t>(k & 0x7F));
        message.front() = 0xF0;
        message.back() = 0xF7;
        if (std::fwrite(message.data(), 1, message.size(), out) != message.size()) break;
        size += message.size();
    }
    if (std::fclose(out) != 0 || size > 120'000'000) {
        std::filesystem::remove(file);
        std::fprintf(stderr, "could not write the dump\n");
        std::exit(1);
    }
    return file.string();
}

std::size_t Floor(const char* path, std::uint64_t size) {
    const int fd = ::open(path, O_RDONLY);
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kBlock);
    const auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    std::vector<std::size_t> ends;
    std::size_t at = 0;
    bool inside = false;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.get(), kBlock);
        if (got <= 0) break;
        const std::uint8_t* p = buffer.get();
        const std::uint8_t* end = p + got;
        while (p < end) {
            if (!inside) {
                p = static_cast<const std::uint8_t*>(std::memchr(p, 0xF0, static_cast<std::size_t>(end - p)));
                if (!p) break;
                inside = true;
            }
            const auto* f7 = static_cast<const std::uint8_t*>(std::memchr(p, 0xF7, static_cast<std::size_t>(end - p)));
            const std::uint8_t* stop = f7 ? f7 + 1 : end;
            std::memcpy(bytes.get() + at, p, static_cast<std::size_t>(stop - p));
            at += static_cast<std::size_t>(stop - p);
            if (!f7) break;
            ends.push_back(at);
            inside = false;
            p = stop;
        }
    }
    ::close(fd);
    return ends.size();
}

// Runs `work` in a child; prints its time and the child's peak resident memory.
template <typename Work>
void Measure(const char* name, int runs, Work work) {
    for (int run = 0; run < runs; ++run) {
        std::fflush(stdout);
        const pid_t child = ::fork();
        if (child == 0) {
            const auto start = std::chrono::steady_clock::now();
            const std::size_t messages = work();
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            rusage usage{};
            ::getrusage(RUSAGE_SELF, &usage);
            std::printf("%-8s %9zu messages  %8.1f ms  peak RSS %7.1f MB\n", name, messages, ms,
                        static_cast<double>(usage.ru_maxrss) / 1024.0);
            std::fflush(stdout);
            std::_Exit(messages == kMessages ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::printf("%s: run failed\n", name);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    std::uint64_t size = 0;
    const std::string path = MakeDump(size);
    std::printf("%s: %.1f MB, %d messages\n", path.c_str(), static_cast<double>(size) / 1e6, kMessages);
    Measure("floor", runs, [&] { return Floor(path.c_str(), size); });
    Measure("load", runs, [&] {
        const sysex::ScanResult result = sysex::LoadDumpFile(path);
        return result.DroppedAnything() ? std::size_t{0} : static_cast<std::size_t>(sysex::MessageCount());
    });
    std::filesystem::remove(path);
    return 0;
}
