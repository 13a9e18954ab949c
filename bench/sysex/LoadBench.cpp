// Loading a dump that fills the store (1000 messages x 65,535 stored bytes, 65.5 MB) from the
// page cache, beside a baseline that does only the unavoidable work: read the file in large
// blocks and split it with memchr/memcpy into a static 1000 x 64 KiB store.
//
//   build/bench/sysex/load_bench [--benchmark_repetitions=5]

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "Messages.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace {

const std::string& FullDumpPath() {
    static const std::string path = [] {
        const auto file = std::filesystem::temp_directory_path() / "kelvane-bench-full.syx";
        const std::vector<std::uint8_t> message = testsupport::FilledMessage(65536, 0x11);
        std::FILE* out = std::fopen(file.c_str(), "wb");
        for (int k = 0; k < 1000; ++k) std::fwrite(message.data(), 1, message.size(), out);
        std::fclose(out);
        return file.string();
    }();
    return path;
}

std::uint8_t baselineStore[1000][65536];
std::uint16_t baselineLen[1000];

int BaselineLoad(const char* path) {
    const int fd = ::open(path, O_RDONLY);
    const auto buffer = std::make_unique<std::uint8_t[]>(1 << 20);
    int k = 0;
    std::size_t n = 0;
    bool inside = false;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.get(), 1 << 20);
        if (got <= 0) break;
        const std::uint8_t* p = buffer.get();
        const std::uint8_t* end = p + got;
        while (p < end && k < 1000) {
            if (!inside) {
                p = static_cast<const std::uint8_t*>(std::memchr(p, 0xF0, static_cast<std::size_t>(end - p)));
                if (!p) break;
                inside = true;
                n = 0;
            }
            const auto* f7 = static_cast<const std::uint8_t*>(std::memchr(p, 0xF7, static_cast<std::size_t>(end - p)));
            const std::uint8_t* stop = f7 ? f7 : end;
            std::memcpy(&baselineStore[k][n], p, static_cast<std::size_t>(stop - p));
            n += static_cast<std::size_t>(stop - p);
            if (!f7) break;
            baselineStore[k][n] = 0xF7;
            baselineLen[k++] = static_cast<std::uint16_t>(n);
            inside = false;
            p = f7 + 1;
        }
    }
    ::close(fd);
    return k;
}

void BM_BaselineSplit(benchmark::State& state) {
    const std::string& path = FullDumpPath();
    for (auto _ : state) benchmark::DoNotOptimize(BaselineLoad(path.c_str()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1000 * 65536);
}

void BM_LoadDumpFile(benchmark::State& state) {
    const std::string& path = FullDumpPath();
    for (auto _ : state) {
        const auto result = sysex::LoadDumpFile(path);
        if (result.stored != 1000) state.SkipWithError("the full dump did not load whole");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1000 * 65536);
}

void BM_ListLines(benchmark::State& state) {
    sysex::LoadDumpFile(FullDumpPath());
    for (auto _ : state) {
        std::size_t total = 0;
        for (int i = 0; i < sysex::SysExCount; ++i) total += sysex::ListLine(i).size();
        benchmark::DoNotOptimize(total);
    }
}

}  // namespace

BENCHMARK(BM_BaselineSplit)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadDumpFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ListLines)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
