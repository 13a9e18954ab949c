// Editing a million messages in the real window: the delete of 500,000 selected messages, its
// undo, and a move by Ctrl+Down, each timed from the command to the list painted again.
//   QT_QPA_PLATFORM=offscreen JACK_NO_START_SERVER=1 build/bench/ui/edit_probe

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "sysex/Store.h"
#include "ui/EditActions.h"
#include "ui/Form1.h"
#include "ui/MessageList.h"

namespace {

template <typename Step>
void Time(const char* what, ui::TForm1& form, Step step) {
    const auto start = std::chrono::steady_clock::now();
    step();
    form.SysEx->repaint();
    QApplication::processEvents();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-44s %8.1f ms  (%d lines after)\n", what, ms, form.SysEx->count());
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const auto path = std::filesystem::temp_directory_path() / "kelvane-edit-probe.syx";
    {
        std::ofstream out(path, std::ios::binary);
        std::vector<char> message;
        for (int k = 0; k < 1000000; ++k) {
            message.assign(40 + static_cast<std::size_t>(k) * 7919 % 46, static_cast<char>(k & 0x7F));
            message.front() = static_cast<char>(0xF0);
            message.back() = static_cast<char>(0xF7);
            out.write(message.data(), static_cast<std::streamsize>(message.size()));
        }
    }
    ui::TForm1 form;
    form.show();
    form.OpenDumpFile(path.string());
    std::filesystem::remove(path);
    QApplication::processEvents();
    std::vector<std::int32_t> half(500000);
    for (std::int32_t k = 0; k < 500000; ++k) half[static_cast<std::size_t>(k)] = k;
    form.SysEx->SelectRows(half, 0);
    Time("delete 500,000 selected of 1,000,000", form, [&] { form.Edits->DeleteClick(); });
    Time("undo that delete", form, [&] { form.Edits->UndoClick(); });
    form.SysEx->SelectRows({10}, 10);
    Time("move message 11 one place down", form, [&] { form.Edits->MoveDownClick(); });
    form.SysEx->SelectRows({999998}, 999998);
    Time("move message 999,999 one place down", form, [&] { form.Edits->MoveDownClick(); });
    return 0;
}
