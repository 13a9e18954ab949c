// The main window as a user meets it: loading through Ctrl+O, from the command line and by a
// drop, the failure display, the keyboard, the fixed size and the layout.

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>

#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <semaphore>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "Files.h"
#include "FormFixture.h"
#include "Messages.h"
#include "TempDir.h"
#include "Wait.h"
#include "midi/Port.h"
#include "settings/Settings.h"
#include "sysex/Store.h"
#include "sysex/Loader.h"
#include "ui/Bevel.h"
#include "ui/LoadProgress.h"
#include "ui/MessageList.h"
#include "ui/PortSelector.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        sysex::ResetStoreForTests();
        settings::ResetSettingsForTests();
        midi::ResetPortStateForTests();
    }
    void TearDown() override { midi::ResetPortStateForTests(); }

    QStringList ListLines() const {
        QStringList lines;
        for (int i = 0; i < w.form->SysEx->count(); ++i) lines << w.form->SysEx->text(i);
        return lines;
    }
    void Press(QKeyCombination key) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : w.form.get(),
                        key.key(), key.keyboardModifiers());
    }

    testsupport::TempDir dir;
    uitest::FormUnderTest w;
};

TEST_F(MainWindow, CtrlOLoadsTheChosenFileIntoTheList) {
    w.ShowAndActivate();
    w.open->answers.push_back(dir.Write("two.syx", {0x00, 0xF0, 0x42, 0x30, 0x28, 0x40, 0xF7, 0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
    Press(Qt::CTRL | Qt::Key_O);
    EXPECT_EQ(w.open->executed, 1);
    EXPECT_EQ(ListLines(), (QStringList{"0001 42H 5Byte", "0002 5Byte"}));
    EXPECT_EQ(w.form->SysEx->currentRow(), -1);
    EXPECT_TRUE(w.form->SysInfo->toPlainText().isEmpty());
    EXPECT_TRUE(w.recorder.notices.isEmpty());
    EXPECT_TRUE(w.recorder.failures.isEmpty());
}

TEST_F(MainWindow, CancelledLoadEmptiesListAndPaneButKeepsTheStore) {
    w.open->answers = {dir.Write("one.syx", {0xF0, 0x43, 0x10, 0x4C, 0x00, 0xF7}), std::nullopt};
    w.form->SysexI1Click();
    w.form->SysEx->setCurrentRow(0);
    w.form->SysInfo->setPlainText("typed by the user");
    w.form->SysexI1Click();
    EXPECT_EQ(w.form->SysEx->count(), 0);
    EXPECT_TRUE(w.form->SysInfo->toPlainText().isEmpty());
    EXPECT_EQ(sysex::SysExCount, 1);
    EXPECT_EQ(sysex::SysExLen[0], 5);
}

TEST_F(MainWindow, FileThatCannotBeOpenedIsReportedWithItsPath) {
    const std::string missing = dir.File("gone.syx").string();
    w.open->answers = {dir.Write("one.syx", {0xF0, 0xF7}), missing};
    w.form->SysexI1Click();
    w.ShowAndActivate();
    w.form->SysexI1->trigger();
    EXPECT_EQ(w.recorder.failures, QStringList{QString::fromStdString("ファイル " + missing + " は開けません.")});
    EXPECT_EQ(ListLines(), QStringList{"0001 1Byte"}) << "the earlier dump stays listed";
    EXPECT_EQ(sysex::SysExCount, 1);
}

// A load that lasts shows how far it has come, and Esc stops it: the earlier dump stays in the
// store, the list, the pane and the title, and nothing of the stopped load comes in later. The
// load is held after its first block until the box has been answered, however slow the machine.
TEST_F(MainWindow, ALastingLoadShowsItsProgressAndEscLeavesTheEarlierDump) {
    w.ShowAndActivate();
    w.open->answers = {dir.Write("earlier.syx", {0xF0, 0x43, 0x10, 0x4C, 0x00, 0xF7, 0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7})};
    w.form->SysexI1Click();
    w.form->SysEx->setCurrentRow(1);
    w.form->SysExClick();
    const QStringList lines = ListLines();
    const QString pane = w.form->SysInfo->toPlainText();
    const QString title = w.form->windowTitle();
    ASSERT_FALSE(pane.isEmpty());

    // Three blocks of 8-byte messages: the first block holds 131072 of them.
    Bytes big;
    for (std::size_t i = 0; i < 3 * sysex::LoadBlockSize / 8; ++i) big.insert(big.end(), {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0xF7});
    const std::string path = dir.Write("big.syx", big);
    std::binary_semaphore go{0};
    w.afterLoadRead = [&go](std::uint64_t bytesRead) {
        if (bytesRead == sysex::LoadBlockSize) (void)go.try_acquire_for(std::chrono::minutes(2));
    };
    const QString held = QStringLiteral("1,048,576 / 3,145,728 バイト  131,072 メッセージ");
    QString shown;
    uitest::DriveModal<ui::TLoadProgress>([&] { w.form->OpenDumpFile(path); }, [&](ui::TLoadProgress* box) {
        shown = box->lblProgress->text();
        // Held there, the load's counts no longer change.
        if (shown.startsWith(QStringLiteral("1,048,576 /"))) QTest::keyClick(box, Qt::Key_Escape);
    });
    go.release();
    EXPECT_EQ(shown.toStdString(), held.toStdString());
    QTRY_COMPARE_WITH_TIMEOUT(ui::LoadThreadsRunning(), 0, 120000);
    QApplication::processEvents();
    EXPECT_EQ(ListLines(), lines);
    EXPECT_EQ(w.form->SysEx->currentRow(), 1);
    EXPECT_EQ(w.form->SysInfo->toPlainText(), pane);
    EXPECT_EQ(w.form->windowTitle(), title);
    EXPECT_FALSE(w.form->CaptureUnsaved());
    ASSERT_EQ(sysex::SysExCount, 2);
    EXPECT_EQ(Bytes(sysex::MessageAt(1).begin(), sysex::MessageAt(1).end()), (Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
    EXPECT_TRUE(w.recorder.notices.isEmpty());
    EXPECT_TRUE(w.recorder.failures.isEmpty());

    // Not held, the same file loads whole.
    w.afterLoadRead = {};
    w.form->OpenDumpFile(path);
    EXPECT_EQ(w.form->SysEx->count(), 3 * sysex::LoadBlockSize / 8);
    EXPECT_EQ(sysex::SysExCount, 3 * sysex::LoadBlockSize / 8);
}

TEST_F(MainWindow, DroppedMessagesAreToldAfterTheListIsFilled) {
    const Bytes file =
        testsupport::Concat({{0xF0, 0x01, 0xF7}, testsupport::FilledMessage(70000, 0x22), {0xF0, 0x02}});
    w.open->answers = {dir.Write("odd.syx", file)};
    w.form->SysexI1Click();
    EXPECT_EQ(ListLines(), (QStringList{"0001 2Byte", "0002 69999Byte"}));
    ASSERT_EQ(w.recorder.notices.size(), 1);
    EXPECT_EQ(w.recorder.notices[0], QStringLiteral("ファイルの末尾で途切れたメッセージ (F7 がないもの) 1 件は読み込みませんでした"));
}

TEST_F(MainWindow, ChecksumCheckIsToldInANoticeAndLeavesTheListAsItIs) {
    const Bytes gsReset{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    Bytes damaged = gsReset;
    damaged[9] = 0x40;
    w.open->answers = {dir.Write("gs.syx", testsupport::Concat({gsReset, damaged, {0xF0, 0x7E, 0xF7}, damaged}))};
    w.form->SysexI1Click();
    const QStringList lines = ListLines();
    w.form->SysEx->setCurrentRow(1);
    w.form->CheckChecksums->trigger();
    EXPECT_EQ(w.recorder.notices, QStringList{QStringLiteral("4 件中 不一致 2 件: 0002, 0004")});
    EXPECT_EQ(ListLines(), lines);
    EXPECT_EQ(w.form->SysEx->currentRow(), 1);
}

TEST_F(MainWindow, SaveWithEmptyStoreOnlyTellsThereIsNoData) {
    w.ShowAndActivate();
    Press(Qt::CTRL | Qt::Key_S);
    w.form->ExportRawDump->trigger();
    EXPECT_EQ(w.recorder.notices, QStringList(2, QStringLiteral("データが記録されておりません")));
    EXPECT_EQ(w.save->executed, 0);
    EXPECT_EQ(w.saveSyx->executed, 0);
}

TEST_F(MainWindow, CtrlSSavesTheWholeStoreEvenAfterACancelledLoad) {
    w.ShowAndActivate();
    w.open->answers = {dir.Write("gm.syx", {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}), std::nullopt};
    w.form->SysexI1Click();
    w.form->SysexI1Click();  // cancelled: the list is empty, the store is not
    ASSERT_EQ(w.form->SysEx->count(), 0);
    const auto target = dir.File("out.mid");
    w.save->answers = {std::nullopt, target.string()};
    Press(Qt::CTRL | Qt::Key_S);  // cancelled: no file
    EXPECT_FALSE(std::filesystem::exists(target));
    Press(Qt::CTRL | Qt::Key_S);
    EXPECT_EQ(testsupport::ReadAll(target),
              (Bytes{0x4D, 0x54, 0x68, 0x64, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00, 0x30,
                     0x4D, 0x54, 0x72, 0x6B, 0x00, 0x00, 0x00, 0x0C, 0x60, 0xF0, 0x05, 0x7E, 0x7F, 0x09,
                     0x01, 0xF7, 0x30, 0xFF, 0x2F, 0x00}));
    EXPECT_TRUE(w.recorder.failures.isEmpty());
}

TEST_F(MainWindow, SaveIntoAMissingFolderReportsAnInvalidName) {
    w.open->answers = {dir.Write("gm.syx", {0xF0, 0xF7})};
    w.form->SysexI1Click();
    w.save->answers = {dir.File("no such folder/out.mid").string()};
    w.ShowAndActivate();
    w.form->SMF1->trigger();
    EXPECT_EQ(w.recorder.failures, QStringList{QStringLiteral("不正なファイル名です.")});
}

#ifndef _WIN32
// The user picks files in the save dialogs: both saves refuse a FIFO (which a reader could be
// waiting on) rather than write the store into it.
TEST_F(MainWindow, BothSavesRefuseAFifo) {
    w.open->answers = {dir.Write("gm.syx", {0xF0, 0xF7})};
    w.form->SysexI1Click();
    const std::string fifo = dir.File("pipe").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    w.save->answers = {fifo};
    w.saveSyx->answers = {fifo};
    w.ShowAndActivate();
    w.form->SMF1->trigger();
    w.form->ExportRawDump->trigger();
    EXPECT_EQ(w.recorder.failures, QStringList(2, QStringLiteral("ファイルへのアクセスが拒否されました.")));
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}
#endif

// A dump named on the command line goes the way of a file chosen in the dialog: the list is
// refilled, dropped messages are told, a file that cannot be opened is reported (the earlier
// dump stays), and the dialog offers the path next time, whether or not it could be opened.
TEST_F(MainWindow, FileNamedOutsideTheDialogOpensAsTheDialogsChoiceWould) {
    w.open->answers = {dir.Write("old.syx", {0xF0, 0x01, 0x02, 0xF7, 0xF0, 0xF7, 0xF0, 0xF7})};
    w.form->SysexI1Click();
    w.form->SysEx->setCurrentRow(1);
    w.form->SysInfo->setPlainText("typed by the user");

    const std::string named = dir.Write("named.syx", {0xF0, 0x42, 0x30, 0x28, 0x40, 0xF7, 0xF0, 0x05});
    w.form->OpenDumpFile(named);
    EXPECT_EQ(ListLines(), QStringList{"0001 42H 5Byte"});
    EXPECT_EQ(w.form->SysEx->currentRow(), -1);
    EXPECT_TRUE(w.form->SysInfo->toPlainText().isEmpty());
    ASSERT_EQ(w.recorder.notices.size(), 1);
    EXPECT_TRUE(w.recorder.notices[0].contains(QStringLiteral("途切れた")));
    EXPECT_EQ(w.open->FileName(), named);

    const std::string missing = dir.File("gone.syx").string();
    w.ShowAndActivate();
    ui::RunGuarded([&] { w.form->OpenDumpFile(missing); });
    EXPECT_EQ(w.recorder.failures, QStringList{QString::fromStdString("ファイル " + missing + " は開けません.")});
    EXPECT_EQ(ListLines(), QStringList{"0001 42H 5Byte"}) << "the earlier dump stays listed";
    EXPECT_EQ(sysex::SysExCount, 1);
    EXPECT_EQ(w.open->FileName(), missing);
    EXPECT_EQ(w.open->executed, 1);
}

// What a file manager sends: the drag's enter, then the drop, with a list of file URLs.
TEST_F(MainWindow, DroppingFilesOpensTheFirstOnceTheDropIsOver) {
    w.ShowAndActivate();
    const std::string first = dir.Write("first.syx", {0xF0, 0x43, 0x10, 0x4C, 0x00, 0xF7});
    const std::string second = dir.Write("second.syx", {0xF0, 0xF7, 0xF0, 0xF7});
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(first)), QUrl::fromLocalFile(QString::fromStdString(second))});
    const QPoint onTheList = w.form->SysEx->mapTo(w.form.get(), QPoint(20, 20));

    // Offered as a move too (Shift held in the file manager), it must stay a copy: the file
    // manager deletes the original after an accepted move.
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(onTheList, offered, &data, Qt::LeftButton, Qt::ShiftModifier);
    enter.setDropAction(Qt::MoveAction);
    QApplication::sendEvent(w.form.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    QDropEvent drop(QPointF(onTheList), offered, &data, Qt::LeftButton, Qt::ShiftModifier);
    drop.setDropAction(Qt::MoveAction);
    QApplication::sendEvent(w.form.get(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
    EXPECT_EQ(w.form->SysEx->count(), 0);  // not inside the drop itself
    QApplication::processEvents();
    EXPECT_EQ(ListLines(), QStringList{"0001 5Byte"});
    EXPECT_EQ(w.open->FileName(), first);
    EXPECT_EQ(w.open->executed, 0);
    EXPECT_TRUE(w.recorder.failures.isEmpty());
}

struct FailureTextCase {
    const char* message;
    const char* shown;
};

TEST_F(MainWindow, FailureDisplayAppendsFullStopOnlyAfterCharactersAboveIt) {
    const FailureTextCase cases[] = {
        {"'KELV_Out' のデータ型が不正です", "'KELV_Out' のデータ型が不正です."},
        {"I/O エラー (28)", "I/O エラー (28)"},
        {"", ""},
        {"done.", "done."},
        {"a-", "a-"},
        {"/", "/."},
    };
    for (const auto& c : cases) {
        w.recorder.failures.clear();
        ui::RunGuarded([&] { throw std::runtime_error(c.message); });
        EXPECT_EQ(w.recorder.failures, QStringList{QString::fromUtf8(c.shown)}) << c.message;
    }
}

TEST_F(MainWindow, TitleAndFixedSize) {
    w.ShowAndActivate();
    EXPECT_EQ(w.form->windowTitle(), QStringLiteral("Kelvane lite"));
    EXPECT_FALSE(w.form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w.form->windowFlags() & Qt::WindowMinimizeButtonHint);
    const QSize fitted = w.form->size();
    EXPECT_EQ(w.form->centralWidget()->size(), QSize(328, 178));
    w.form->resize(fitted + QSize(120, 80));
    QApplication::processEvents();
    EXPECT_EQ(w.form->size(), fitted);
#ifndef _WIN32
    // From outside, as another program may resize it where no window manager keeps the size.
    // (Windows itself keeps a fixed-size window at its size: there the resize never happens.)
    bool resized = false;
    w.form->windowHandle()->resize(fitted + QSize(60, 40));
    EXPECT_TRUE(QTest::qWaitFor([&] {
        resized = resized || w.form->size() != fitted;
        return resized && w.form->size() == fitted;
    }, static_cast<int>(std::chrono::milliseconds(testsupport::Patience).count()))) << w.form->width() << " x " << w.form->height();
#endif
    EXPECT_EQ(w.form->centralWidget()->geometry().top(), w.form->menuBar()->height());
}

TEST_F(MainWindow, ControlsSitWhereTheLayoutPutsThem) {
    ASSERT_DOUBLE_EQ(w.form->LayoutScaleFactor(), 1.0);
    EXPECT_EQ(w.form->Panel1->geometry(), QRect(0, 0, 328, 153));
    EXPECT_EQ(w.form->pnlColumnHeading->geometry(), QRect(0, 151, 328, 27));
    EXPECT_EQ(w.form->SysEx->geometry(), QRect(10, 26, 147, 117));
    EXPECT_EQ(w.form->SysInfo->geometry(), QRect(167, 26, 147, 117));
    EXPECT_EQ(w.form->cmbOutput->geometry(), QRect(96, 3, 223, 20));
    EXPECT_EQ(w.form->EXC_SW->geometry(), QRect(5, 5, 89, 17));
    EXPECT_EQ(w.form->Bevel1->geometry(), QRect(8, 24, 152, 122));
    EXPECT_EQ(w.form->Bevel2->geometry(), QRect(164, 23, 154, 123));
    EXPECT_EQ(w.form->Label3->pos(), QPoint(33, 6));
    EXPECT_EQ(w.form->Label4->pos(), QPoint(214, 7));
    EXPECT_EQ(w.form->EXC_SW->text(), QStringLiteral("MIDI OUT"));
    EXPECT_EQ(w.form->Label3->text(), QStringLiteral("No. Information"));
    EXPECT_EQ(w.form->Label4->text(), QStringLiteral("詳細情報"));
    EXPECT_EQ(w.form->cmbOutput->view()->sizeHintForRow(0), 12);
}

TEST_F(MainWindow, DisabledMidiOutShowsItsCaptionInTheDisabledTextColour) {
    const QPalette palette = w.form->EXC_SW->palette();
    const QColor disabled = QApplication::palette().color(QPalette::Disabled, QPalette::WindowText);
    EXPECT_EQ(palette.color(QPalette::Active, QPalette::WindowText), QColor(Qt::black));
    EXPECT_NE(disabled, QColor(Qt::black));
    EXPECT_EQ(palette.color(QPalette::Disabled, QPalette::WindowText), disabled);
}

TEST_F(MainWindow, MenuCaptionsAndShortcuts) {
    EXPECT_EQ(w.form->File1->title(), QStringLiteral("ファイル(&F)"));
    EXPECT_EQ(w.form->Help1->title(), QStringLiteral("ヘルプ(&H)"));
    EXPECT_EQ(w.form->SysexI1->text(), QStringLiteral("データを開く(&O)"));
    EXPECT_EQ(w.form->SMF1->text(), QStringLiteral("SMF形式で保存"));
    EXPECT_EQ(w.form->mnuExit->text(), QStringLiteral("終了(&X)"));
    EXPECT_EQ(w.form->About1->text(), QStringLiteral("バージョン情報(&A)"));
    EXPECT_EQ(w.form->SysexI1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_EQ(w.form->SMF1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_EQ(w.form->mnuExit->shortcut(), QKeySequence(Qt::Key_F10));
    // Receiving, sending and the dump-file save sit under their neighbours, without shortcuts.
    QStringList fileMenu;
    for (const QAction* action : w.form->File1->actions()) fileMenu << action->text();
    EXPECT_EQ(fileMenu, (QStringList{"データを開く(&O)", "受信(&R)...", "送信(&T)...", "SMF形式で保存",
                                     "SysEx形式で保存", "チェックサムを確認(&C)", "", "終了(&X)"}));
    EXPECT_TRUE(w.form->ReceiveDump->shortcut().isEmpty());
    EXPECT_TRUE(w.form->SendDump->shortcut().isEmpty());
    EXPECT_TRUE(w.form->ExportRawDump->shortcut().isEmpty());
}

TEST_F(MainWindow, FocusStartsOnPortSelectorAndTabCyclesInLayoutOrder) {
    w.ShowAndActivate();
    ASSERT_EQ(QApplication::focusWidget(), w.form->cmbOutput);
    const QWidget* expected[] = {w.form->EXC_SW, w.form->SysEx, w.form->SysInfo, w.form->cmbOutput};
    for (const QWidget* next : expected) {
        Press(Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next);
    }
}

TEST_F(MainWindow, F10EndsTheProgramWithoutOpeningTheMenu) {
    w.ShowAndActivate();
    bool quitSeen = false;
    // Let go before `quitSeen` does: a later test that quits would write into a dead frame.
    const auto quitConnection = QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { quitSeen = true; });
    EXPECT_EQ(uitest::ExecAfter(w.form.get(), [&] { Press(Qt::Key_F10); }), 0);
    QObject::disconnect(quitConnection);
    EXPECT_TRUE(quitSeen);
    EXPECT_EQ(w.form->menuBar()->activeAction(), nullptr);
}

TEST_F(MainWindow, AltF4ClosesTheWindowAndSoEndsTheProgram) {
    w.ShowAndActivate();
    EXPECT_EQ(uitest::ExecAfter(w.form.get(), [&] { Press(Qt::ALT | Qt::Key_F4); }), 0);
    EXPECT_FALSE(w.form->isVisible());
}

TEST_F(MainWindow, ShortcutsDoNothingWhileAModalBoxIsOpen) {
    w.ShowAndActivate();
    w.open->answers = {dir.Write("one.syx", {0xF0, 0xF7})};
    bool quitSeen = false;
    auto quitConnection = QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { quitSeen = true; });
    QMessageBox box(QMessageBox::NoIcon, "Kelvane Limited", "modal", QMessageBox::Ok, w.form.get());
    QTimer::singleShot(50, [&] {
        QWidget* target = QApplication::activeModalWidget();
        ASSERT_EQ(target, &box);
        for (auto key : {Qt::CTRL | Qt::Key_O, Qt::CTRL | Qt::Key_S, QKeyCombination(Qt::Key_F10)}) {
            QTest::keyClick(target, key.key(), key.keyboardModifiers());
            QTest::keyClick(w.form.get(), key.key(), key.keyboardModifiers());
        }
        box.accept();
    });
    box.exec();
    QObject::disconnect(quitConnection);
    EXPECT_EQ(w.open->executed, 0);
    EXPECT_TRUE(w.recorder.notices.isEmpty());
    EXPECT_FALSE(quitSeen);
}

}  // namespace
