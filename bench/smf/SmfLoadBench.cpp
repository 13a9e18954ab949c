// Loading the largest Standard MIDI File (the writer's output for a full store, 1000 messages of
// 65,535 stored bytes) beside loading the same messages from a raw dump, in one run, both from
// the page cache. The figure to watch is the ratio of the two.
//
//   build/bench/smf/bench_smf_load [--benchmark_repetitions=5]

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "smf/DumpWriter.h"
#include "smf/SmfWriter.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace {

std::string BenchFile(const std::string& name) {
    const char* dir = std::getenv("KELVANE_BENCH_DIR");
    return ((dir ? std::filesystem::path(dir) : std::filesystem::temp_directory_path()) / name).string();
}

// Both files hold the same full store.
struct Files {
    std::string smf = BenchFile("kelvane-bench-load.mid");
    std::string raw = BenchFile("kelvane-bench-load.syx");
    Files() {
        for (int k = 0; k < sysex::MaxSysEx; ++k) {
            sysex::SysExData[k][0] = 0xF0;
            for (std::size_t i = 1; i < sysex::MaxStoredLength; ++i) sysex::SysExData[k][i] = static_cast<std::uint8_t>((k + i) & 0x7F);
            sysex::SysExData[k][sysex::MaxStoredLength] = 0xF7;
            sysex::SysExLen[k] = sysex::MaxStoredLength;
        }
        sysex::SysExCount = sysex::MaxSysEx;
        smf::ExportStore(smf);
        smf::ExportStoreAsDump(raw);
    }
    ~Files() {
        std::filesystem::remove(smf);
        std::filesystem::remove(raw);
    }
};

const Files& TheFiles() {
    static const Files files;
    return files;
}

void Load(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        const auto result = sysex::LoadDumpFile(path);
        if (result.stored != sysex::MaxSysEx || result.DroppedAnything()) {
            state.SkipWithError("the full store did not load whole");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * sysex::MaxSysEx * 65536);
}

void LoadRawDump(benchmark::State& state) { Load(state, TheFiles().raw); }
void LoadStandardMidiFile(benchmark::State& state) { Load(state, TheFiles().smf); }

}  // namespace

BENCHMARK(LoadRawDump)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LoadStandardMidiFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
