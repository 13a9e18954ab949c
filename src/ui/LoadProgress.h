#pragma once
// Loading a dump file without freezing the window: the file is read on a thread of its own into
// messages aside from the store, while the window's thread stays in an event loop and repaints.
// A load that lasts longer than ShowAfterMs shows its progress (bytes read, messages found) in a
// modal box, where Esc, 中止 or the close box stop it. Only a finished load touches the store,
// and only on the window's thread, so a stopped or failed load leaves the earlier dump exactly
// as it was. GUI thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QDialog>

#include "sysex/Loader.h"
#include "sysex/Store.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QWidget;

namespace ui {

// A finished load: what was found and dropped, and the messages, not yet in the store.
struct FinishedLoad {
    sysex::ScanResult result;
    std::unique_ptr<sysex::OwnStore> messages;

    // Replaces the store's messages with the loaded ones (the window's thread).
    void MoveIntoStore() { messages->MoveIntoStore(result.stored); }
};

// Called on the loading thread after each read with the bytes read so far; tests hold a load
// under way here. Empty in the program.
using AfterLoadRead = std::function<void(std::uint64_t bytesRead)>;

// Loads the dump at `pathUtf8` as sysex::LoadDumpFile would, on a thread of its own, and waits
// in an event loop of the window's thread until it ends. Returns the load when it finished,
// nothing when the user stopped it (or another load is under way); throws kelvane::Failure with
// the loader's text when it failed. User input waits until the progress box shows, which then
// holds it off the window, so no command of the window runs in the middle of a load. A read
// that never returns (a network share gone) keeps only its thread, which ends on its own or
// with the program, never the window.
std::optional<FinishedLoad> LoadWithProgress(QWidget* window, double scale, const std::string& pathUtf8,
                                             const AfterLoadRead& afterRead = {});

// Loads whose thread has not ended yet, stopped ones included.
int LoadThreadsRunning();

// The progress box of a load that lasts.
class TLoadProgress : public QDialog {
public:
    TLoadProgress(QWidget* owner, double scale, const std::string& pathUtf8);

    QLabel* lblProgress = nullptr;
    QProgressBar* barProgress = nullptr;
    QPushButton* btnStop = nullptr;

    // "1,048,576 / 3,145,728 バイト  131,072 メッセージ"
    static QString ProgressText(std::uint64_t bytesRead, std::uint64_t fileBytes, std::int32_t messages);
    void ShowProgress(std::uint64_t bytesRead, std::uint64_t fileBytes, std::int32_t messages);
};

// How long a load runs before its progress shows.
inline constexpr int ShowAfterMs = 300;

}  // namespace ui
