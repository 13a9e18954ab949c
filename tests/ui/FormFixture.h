#pragma once
// Builds the real main window with scripted dialogs and a recorder in place of message boxes.

#include <QApplication>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ui/FileDialog.h"
#include "ui/Form1.h"
#include "ui/Notice.h"
#include "ui/PortSelector.h"

namespace uitest {

// Answers each Execute() with the next scripted answer: a path (accepted) or nothing (cancel).
class ScriptedDialog : public ui::FileDialog {
public:
    std::deque<std::optional<std::string>> answers;
    int executed = 0;
    bool Execute() override {
        ++executed;
        if (answers.empty()) return false;
        auto answer = answers.front();
        answers.pop_front();
        if (!answer) return false;
        last_ = *answer;
        return true;
    }
    std::string FileName() const override { return last_; }
    void SetFileName(const std::string& path) override { last_ = path; }

private:
    std::string last_;
};

class Recorder : public ui::MessageDisplay {
public:
    QStringList notices;
    QStringList failures;
    QStringList questions;
    std::deque<bool> answers;  // to the questions, in turn; no when none is left
    QStringList choices;       // the texts of questions with buttons
    std::deque<int> chosen;    // the buttons chosen, in turn; the last button when none is left
    void Notice(const QString& text) override { notices << text; }
    void Failure(const QString& text) override { failures << text; }
    bool Question(const QString& text) override {
        questions << text;
        if (answers.empty()) return false;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    int Choice(const QString& text, const QStringList& buttons) override {
        choices << text;
        if (chosen.empty()) return static_cast<int>(buttons.size()) - 1;
        const int answer = chosen.front();
        chosen.pop_front();
        return answer;
    }
};

// A window ready for a test: dialogs scripted, boxes recorded.
struct FormUnderTest {
    Recorder recorder;
    ScriptedDialog* open = nullptr;
    ScriptedDialog* save = nullptr;     // the SMF file's
    ScriptedDialog* saveSyx = nullptr;  // the dump file's
    int aboutShown = 0;
    // Called on a load's thread after each read; set it only while no load runs.
    std::function<void(std::uint64_t bytesRead)> afterLoadRead;
    std::unique_ptr<ui::TForm1> form;

    FormUnderTest() {
        ui::SetMessageDisplay(&recorder);
        ui::FormSeams seams;
        seams.makeFileDialog = [this](const ui::FileDialogSetup& setup, QWidget*) {
            auto dialog = std::make_unique<ScriptedDialog>();
            if (setup.kind == ui::FileDialogSetup::Kind::Open) {
                open = dialog.get();
            } else {
                (setup.defaultExtension == QStringLiteral("syx") ? saveSyx : save) = dialog.get();
            }
            return std::unique_ptr<ui::FileDialog>(std::move(dialog));
        };
        seams.showAbout = [this] { ++aboutShown; };
        seams.afterLoadRead = [this](std::uint64_t bytesRead) {
            if (afterLoadRead) afterLoadRead(bytesRead);
        };
        form = std::make_unique<ui::TForm1>(std::move(seams));
    }
    ~FormUnderTest() {
        form.reset();
        ui::SetMessageDisplay(nullptr);
    }
    void ShowAndActivate() {
        form->show();
        form->activateWindow();
        QApplication::setActiveWindow(form.get());
        form->cmbOutput->setFocus(Qt::ActiveWindowFocusReason);
        QApplication::processEvents();
    }
};

// Runs `act` from the program's event loop and gives what QApplication::exec() returned: 0 when
// `act` ended the program (its window has closed and the quit is on its way), 7 when the program
// stays. Whether it stays is seen at once, not after a wait that a busy machine could outlast.
template <typename Act>
int ExecAfter(QWidget* window, Act act) {
    QTimer::singleShot(0, [&] {
        act();
        if (window->isVisible()) QApplication::exit(7);
    });
    return QApplication::exec();
}

// Runs `open` (which shows a modal dialog of type Dialog and returns when it closes) while
// `step(dialog)` is called every 20 ms from the dialog's own event loop, for as long as it is
// open: a test drives the dialog from there, one step per call.
template <typename Dialog, typename Open, typename Step>
void DriveModal(Open open, Step step) {
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (auto* dialog = dynamic_cast<Dialog*>(QApplication::activeModalWidget())) step(dialog);
    });
    driver.start(20);
    open();
    driver.stop();
}

}  // namespace uitest
