// Filling the window's message list as a load does, the list texts and the list together, up to
// the first lines painted: 1,000 messages (a full static block) and 1.6 million (a 100 MB dump).
//   QT_QPA_PLATFORM=offscreen build/bench/ui/list_fill_bench

#include <QApplication>
#include <benchmark/benchmark.h>

#include "sysex/Loader.h"
#include "sysex/Store.h"
#include "ui/MessageList.h"

namespace {

void BM_FillList(benchmark::State& state) {
    std::vector<std::uint8_t> dump;
    for (int k = 0; k < state.range(0); ++k) dump.insert(dump.end(), {0xF0, 0x42, 0x30, 0x28, 0x40, 0xF7});
    sysex::ScanDump(dump.data(), dump.size());
    ui::MessageList list(nullptr);
    list.resize(147, 117);
    list.show();
    for (auto _ : state) {
        list.clear();
        list.ShowLines(sysex::MessageCount(), [](int i) { return QString::fromStdString(sysex::ListLine(i)); });
        list.repaint();
        QApplication::processEvents();
    }
    if (list.count() != state.range(0)) state.SkipWithError("not every line listed");
}

}  // namespace

BENCHMARK(BM_FillList)->Arg(1000)->Arg(1600000)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
