// Opening a 100 MB dump (2.3 million messages) in the main window as File > データを開く does:
// the time from the start of the load to the first list lines painted, and the longest the
// window's thread went without its event loop meanwhile (a paint or Esc waits at most that
// long). Five loads of the same file, which the first one brings into the page cache.
//   QT_QPA_PLATFORM=offscreen build/bench/ui/window_load_bench [DUMP]

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "sysex/Store.h"
#include "ui/Form1.h"
#include "ui/MessageList.h"

namespace {

// 2,272,727 messages of 44 bytes: 100 MB, as a full dump of a sample library would be.
std::string WriteDump() {
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "kelvane-window-load-bench.syx";
    std::vector<char> message(44, 0x11);
    message.front() = static_cast<char>(0xF0);
    message[1] = 0x43;
    message.back() = static_cast<char>(0xF7);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (std::size_t written = 0; written + message.size() <= 100'000'000; written += message.size())
        out.write(message.data(), static_cast<std::streamsize>(message.size()));
    return path.string();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const bool own = argc < 2;
    const std::string path = own ? WriteDump() : std::string(argv[1]);
    ui::TForm1 form;
    form.show();
    QApplication::processEvents();

    std::vector<double> firstLines, stalls;
    for (int run = 0; run < 5; ++run) {
        form.SysEx->clear();
        QApplication::processEvents();
        QElapsedTimer sinceTick;
        QElapsedTimer load;
        double longestGapMs = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longestGapMs = std::max(longestGapMs, sinceTick.nsecsElapsed() / 1e6);
            sinceTick.restart();
        });
        load.start();
        sinceTick.start();
        tick.start(1);
        form.OpenDumpFile(path);
        form.SysEx->repaint();
        const double ms = load.nsecsElapsed() / 1e6;
        // From the last turn of the event loop to the first lines painted, the window's thread
        // did the load's last part: the messages into the store, the list filled.
        longestGapMs = std::max(longestGapMs, sinceTick.nsecsElapsed() / 1e6);
        tick.stop();
        QApplication::processEvents();
        if (form.SysEx->count() != sysex::MessageCount() || form.SysEx->count() == 0) {
            std::fprintf(stderr, "the load did not list its messages\n");
            return 1;
        }
        firstLines.push_back(ms);
        stalls.push_back(longestGapMs);
        std::printf("load %d: %d messages, first lines after %.0f ms, event loop away at most %.0f ms\n", run + 1,
                    sysex::MessageCount(), ms, longestGapMs);
    }
    std::sort(firstLines.begin(), firstLines.end());
    std::sort(stalls.begin(), stalls.end());
    std::printf("median: first lines after %.0f ms, event loop away at most %.0f ms\n", firstLines[2], stalls[2]);
    if (own) std::filesystem::remove(path);
    return 0;
}
