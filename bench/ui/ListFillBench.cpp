// Filling the message list with 1000 lines, as a load of a full dump does: the list texts and
// the list widget together.   QT_QPA_PLATFORM=offscreen build/bench/ui/list_fill_bench

#include <QApplication>
#include <QListWidget>
#include <benchmark/benchmark.h>

#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace {

void BM_FillListWith1000Lines(benchmark::State& state) {
    std::vector<std::uint8_t> dump;
    for (int k = 0; k < 1000; ++k) dump.insert(dump.end(), {0xF0, 0x42, 0x30, 0x28, 0x40, 0xF7});
    sysex::ScanDump(dump.data(), dump.size());
    QListWidget list;
    list.setUniformItemSizes(true);
    list.resize(147, 117);
    list.show();
    for (auto _ : state) {
        list.clear();
        QStringList lines;
        lines.reserve(sysex::SysExCount);
        for (int i = 0; i < sysex::SysExCount; ++i) lines.append(QString::fromStdString(sysex::ListLine(i)));
        list.addItems(lines);
        QApplication::processEvents();
    }
}

}  // namespace

BENCHMARK(BM_FillListWith1000Lines)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
