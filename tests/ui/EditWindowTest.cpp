// Editing in the window as a user does it, by the keys: select, copy, paste, move, delete, undo
// and redo, edit one message as hex, then save; and what the window asks and tells meanwhile.
// What each edit does to the store is tested once, below the window (tests/sysex).

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QClipboard>
#include <QDropEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <memory>

#include "Files.h"
#include "Messages.h"
#include "FormFixture.h"
#include "TempDir.h"
#include "midi/Port.h"
#include "settings/Settings.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"
#include "ui/EditActions.h"
#include "ui/HexEditDialog.h"
#include "ui/MessageList.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes Korg{0xF0, 0x42, 0x30, 0x28, 0x40, 0xF7};
const Bytes GmOn{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
const Bytes GsReset{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
const Bytes Yamaha{0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};

class EditWindow : public ::testing::Test {
protected:
    void SetUp() override {
        sysex::ResetStoreForTests();
        settings::ResetSettingsForTests();
        midi::ResetPortStateForTests();
        w.ShowAndActivate();
        w.open->answers = {dir.Write("four.syx", testsupport::Concat({Korg, GmOn, GsReset, Yamaha}))};
        Press(Qt::CTRL | Qt::Key_O);
        w.form->SysEx->setFocus();
    }
    void TearDown() override { midi::ResetPortStateForTests(); }

    // As std::string, so a failure prints them readably.
    std::vector<std::string> ListLines() const {
        std::vector<std::string> lines;
        for (int i = 0; i < w.form->SysEx->count(); ++i) lines.push_back(w.form->SysEx->text(i).toStdString());
        return lines;
    }
    static std::string Text(const QString& text) { return text.toStdString(); }
    void Press(QKeyCombination key) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : w.form.get(), key.key(),
                        key.keyboardModifiers());
    }
    std::vector<Bytes> Saved(const std::string& path) {
        const auto own = std::make_unique_for_overwrite<sysex::OwnStore>();
        sysex::LoadDumpFileInto(path, *own);
        std::vector<Bytes> messages;
        for (std::int32_t k = 0; k < own->count; ++k) messages.emplace_back(own->At(k).begin(), own->At(k).end());
        return messages;
    }

    testsupport::TempDir dir;
    uitest::FormUnderTest w;
};

TEST_F(EditWindow, KeysEditTheListAndTheSaveWritesTheResult) {
    Press(Qt::Key_Home);
    Press(Qt::SHIFT | Qt::Key_Down);
    Press(Qt::CTRL | Qt::Key_C);
    EXPECT_EQ(Text(QApplication::clipboard()->text()), "F0 42 30 28 40 F7\nF0 7E 7F 09 01 F7");

    Press(Qt::Key_End);
    Press(Qt::CTRL | Qt::Key_V);  // after the current message, the last
    Press(Qt::CTRL | Qt::Key_Up);  // the two pasted, still selected, one place up
    EXPECT_EQ(ListLines(), (std::vector<std::string>{"0001 42H 5Byte", "0002 5Byte", "0003 10Byte", "0004 42H 5Byte",
                                        "0005 5Byte", "0006 8Byte"}));
    EXPECT_EQ(w.form->SysEx->SelectedRows(), (std::vector<std::int32_t>{3, 4}));

    Press(Qt::Key_Home);
    Press(Qt::Key_Delete);
    Press(Qt::CTRL | Qt::Key_Z);
    EXPECT_EQ(w.form->SysEx->count(), 6);
    Press(Qt::CTRL | Qt::Key_Y);
    Press(Qt::CTRL | Qt::SHIFT | Qt::Key_Z);  // nothing more to redo
    const std::vector<std::string> afterDelete{"0001 5Byte", "0002 10Byte", "0003 42H 5Byte", "0004 5Byte", "0005 8Byte"};
    EXPECT_EQ(ListLines(), afterDelete);
    ASSERT_EQ(w.form->SysEx->currentRow(), 0);

    // Enter edits the current message; the dialog offers to put a wrong checksum right.
    Press(Qt::Key_Down);  // the GS Reset
    uitest::DriveModal<ui::THexEdit>([&] { Press(Qt::Key_Return); }, [&](ui::THexEdit* dialog) {
        dialog->edtHex->setPlainText(QStringLiteral("f0 41 10 42 12 40 00 7f 01 41 f7"));
        EXPECT_TRUE(dialog->btnChecksum->isEnabled());
        dialog->btnChecksum->click();
        EXPECT_EQ(dialog->lblVerdict->text(), QStringLiteral("チェックサム正常"));
        dialog->btnOk->click();
    });
    EXPECT_EQ(Text(w.form->SysInfo->toPlainText()), "Vendor:Roland\nMachine:Unknown(42H)\nSysExCH:00\nFunction:12H");

    QApplication::setActiveWindow(w.form.get());  // back from the dialog

    // Unsaved edits are asked about as an unsaved capture is; staying keeps everything.
    w.form->mnuExit->trigger();
    EXPECT_EQ(w.recorder.choices, QStringList{QStringLiteral("編集した 5 メッセージは保存されていません。保存しますか?")});
    EXPECT_TRUE(w.form->EditsUnsaved());

    const std::string target = dir.File("edited.mid").string();
    w.save->answers = {target};
    Press(Qt::CTRL | Qt::Key_S);
    const Bytes gsFixed{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x01, 0x40, 0xF7};
    EXPECT_EQ(Saved(target), (std::vector<Bytes>{GmOn, gsFixed, Korg, GmOn, Yamaha}));
    EXPECT_FALSE(w.form->EditsUnsaved());
    EXPECT_TRUE(w.recorder.failures.isEmpty());
    EXPECT_TRUE(w.recorder.notices.isEmpty());
}

TEST_F(EditWindow, PastingTextWithoutAMessageSaysWhyAndAFileCopiedInsertsItsMessages) {
    Press(Qt::Key_Home);
    QApplication::clipboard()->setText(QStringLiteral("0003 8Byte"));
    Press(Qt::CTRL | Qt::Key_V);
    EXPECT_EQ(w.recorder.notices,
              QStringList{QStringLiteral("クリップボードのテキストには F0 で始まり F7 で終わるメッセージがありません")});
    EXPECT_EQ(w.form->SysEx->count(), 4);
    EXPECT_FALSE(w.form->EditsUnsaved());

    auto* copied = new QMimeData;
    copied->setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.Write("two.syx", testsupport::Concat({Yamaha, Korg}))))});
    QApplication::clipboard()->setMimeData(copied);
    Press(Qt::CTRL | Qt::Key_V);
    EXPECT_EQ(ListLines(), (std::vector<std::string>{"0001 42H 5Byte", "0002 8Byte", "0003 42H 5Byte", "0004 5Byte", "0005 10Byte",
                                        "0006 8Byte"}));
    // Undone to the state loaded, the store needs no saving any more.
    Press(Qt::CTRL | Qt::Key_Z);
    EXPECT_FALSE(w.form->EditsUnsaved());

    // In the information pane the editing keys are the pane's own.
    QApplication::clipboard()->setText(QStringLiteral("F0 7D 01 F7"));
    w.form->SysInfo->setFocus();
    w.form->SysInfo->clear();
    Press(Qt::CTRL | Qt::Key_V);
    EXPECT_EQ(Text(w.form->SysInfo->toPlainText()), "F0 7D 01 F7");
    EXPECT_EQ(w.form->SysEx->count(), 4);
}

// A file dropped with Ctrl held inserts its messages after the current one; without Ctrl it is
// opened, as before.
TEST_F(EditWindow, DroppingAFileWithCtrlHeldInsertsItsMessages) {
    Press(Qt::Key_Home);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.Write("one.syx", Yamaha)))});
    const QPoint onTheList = w.form->SysEx->mapTo(w.form.get(), QPoint(20, 20));
    // The drop goes where the drag's enter was accepted.
    QDragEnterEvent enter(onTheList, Qt::CopyAction, &data, Qt::LeftButton, Qt::ControlModifier);
    QApplication::sendEvent(w.form.get(), &enter);
    QDropEvent drop(QPointF(onTheList), Qt::CopyAction, &data, Qt::LeftButton, Qt::ControlModifier);
    QApplication::sendEvent(w.form.get(), &drop);
    QApplication::processEvents();
    EXPECT_EQ(ListLines(), (std::vector<std::string>{"0001 42H 5Byte", "0002 8Byte", "0003 5Byte", "0004 10Byte", "0005 8Byte"}));
    EXPECT_EQ(w.form->SysEx->currentRow(), 1);
    EXPECT_TRUE(w.form->EditsUnsaved());
}

TEST_F(EditWindow, TheEditMenuSitsBetweenFileAndHelpAndTheListOffersTheSameActions) {
    QStringList bar;
    for (const QAction* action : w.form->MainMenu1->actions()) bar << action->text();
    EXPECT_EQ(bar, (QStringList{"ファイル(&F)", "編集(&E)", "ヘルプ(&H)"}));
    QStringList menu, context;
    for (const QAction* action : w.form->Edit1->actions()) menu << action->text();
    for (const QAction* action : w.form->SysEx->actions()) context << action->text();
    EXPECT_EQ(menu, (QStringList{"元に戻す(&U)", "やり直し(&R)", "", "削除(&D)", "上へ", "下へ", "", "コピー(&C)",
                                 "貼り付け(&P)", "すべて選択(&A)", "", "ファイルを挿入(&I)...", "16 進で編集(&E)..."}));
    EXPECT_EQ(context, menu);
    EXPECT_EQ(w.form->SysEx->contextMenuPolicy(), Qt::ActionsContextMenu);
}

}  // namespace
