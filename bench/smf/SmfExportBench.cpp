// Exporting a full store (1000 messages of 65,535 bytes: 65,540,026 file bytes) against the
// floor for the same file: create it, one write() of all its bytes, close it. Both write into
// KELVANE_BENCH_DIR (default: the system's temporary folder) and replace their file each time.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "smf/SmfWriter.h"
#include "sysex/Store.h"

namespace {

std::string BenchFile(const std::string& name) {
    const char* dir = std::getenv("KELVANE_BENCH_DIR");
    return ((dir ? std::filesystem::path(dir) : std::filesystem::temp_directory_path()) / name).string();
}

std::size_t FillFullStore() {
    for (int k = 0; k < sysex::MaxSysEx; ++k) {
        sysex::SysExData[k][0] = 0xF0;
        for (std::size_t i = 1; i < sysex::MaxStoredLength; ++i) sysex::SysExData[k][i] = static_cast<std::uint8_t>((k + i) & 0x7F);
        sysex::SysExData[k][sysex::MaxStoredLength] = 0xF7;
        sysex::SysExLen[k] = sysex::MaxStoredLength;
    }
    sysex::SysExCount = sysex::MaxSysEx;
    return smf::SMFHeader.size() + 4 + smf::TrackBodySize(sysex::StoreMessages()) + smf::EndOfTrack.size();
}

const std::size_t fileBytes = FillFullStore();

void ExportFullStore(benchmark::State& state) {
    const std::string path = BenchFile("kelvane-bench-export.mid");
    for (auto _ : state) smf::ExportStore(path);
    if (std::filesystem::file_size(path) != fileBytes) state.SkipWithError("export wrote the wrong size");
    std::filesystem::remove(path);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fileBytes));
}

void OneWriteCall(benchmark::State& state) {
    const std::string path = BenchFile("kelvane-bench-one-write.bin");
    const std::vector<std::uint8_t> bytes(fileBytes, 0x55);
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) || ::close(fd) != 0) {
            state.SkipWithError("one write() failed");
            break;
        }
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fileBytes));
}

BENCHMARK(ExportFullStore)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OneWriteCall)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
