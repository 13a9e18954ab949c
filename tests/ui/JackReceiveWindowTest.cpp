// The window receiving for real: a JACK client sends into the input chosen in "受信(&R)...",
// the list shows what came, and "SysEx形式で保存" writes a file that loads back to the same list.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>

#include "FormFixture.h"
#include "JackProcesses.h"
#include "JackSender.h"
#include "Messages.h"
#include "TempDir.h"
#include "midi/Input.h"
#include "midi/Port.h"
#include "settings/Settings.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"
#include "ui/MessageList.h"
#include "ui/Receive.h"

namespace {

using testsupport::Bytes;
using testsupport::Concat;
using testsupport::PatternMessage;

const Bytes kGmOn{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};

int EntryNamed(QComboBox* box, const std::string& name) {
    for (int i = 0; i < box->count(); ++i)
        if (box->itemText(i).toStdString() == name) return i;
    return -1;
}

QStringList Lines(const ui::MessageList* list) {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i) lines << list->text(i);
    return lines;
}

class JackReceiveWindow : public ::testing::Test {
protected:
    void SetUp() override {
        sysex::ResetStoreForTests();
        settings::ResetSettingsForTests();
        midi::ResetPortStateForTests();
        midi::ResetInputStateForTests();
    }
    void TearDown() override {
        midi::ResetPortStateForTests();
        midi::ResetInputStateForTests();
    }
};

TEST_F(JackReceiveWindow, ReceivedMessagesFillTheListAndSaveAsADumpThatLoadsBack) {
    kelvane::testing::JackReceiver rx("rxw-receive");
    kelvane::testing::JackSender sender("txw-receive");
    testsupport::TempDir dir;
    uitest::FormUnderTest w;
    w.ShowAndActivate();

    // A loaded dump supplies the request; the chosen output carries it.
    const Bytes request{0xF0, 0x42, 0x30, 0x00, 0x01, 0x10, 0xF7};
    w.open->answers = {dir.Write("request.syx", request)};
    w.form->SysexI1->trigger();
    const int output = EntryNamed(w.form->cmbOutput, rx.PortName());
    ASSERT_GT(output, 0);
    w.form->cmbOutput->setCurrentIndex(output);
    emit w.form->cmbOutput->activated(output);

    const std::vector<Bytes> messages{PatternMessage(6, 1), PatternMessage(65536, 2), PatternMessage(300, 3)};
    Bytes wire;
    for (const Bytes& m : messages) {
        wire.insert(wire.end(), m.begin(), m.begin() + static_cast<long>(m.size() / 2));
        wire.push_back(0xF8);
        wire.insert(wire.end(), m.begin() + static_cast<long>(m.size() / 2), m.end());
    }

    int inputEntry = -1;
    bool started = false;
    const auto deadline = std::chrono::steady_clock::now() + testsupport::Patience;
    const QString done = QString::number(messages.size()) + QStringLiteral(" メッセージ  ") +
                         QString::number(wire.size() - messages.size()) + QStringLiteral(" バイト");
    uitest::DriveModal<ui::TReceive>([&] { w.form->ReceiveDump->trigger(); }, [&](ui::TReceive* dialog) {
        if (!started) {
            EXPECT_EQ(dialog->cmbInput->itemText(0), QStringLiteral("(None)"));
            inputEntry = EntryNamed(dialog->cmbInput, sender.PortName());
            if (inputEntry < 0) return dialog->reject();
            dialog->cmbInput->setCurrentIndex(inputEntry);
            emit dialog->cmbInput->activated(inputEntry);
            dialog->edtIdle->setValue(0);  // stopped by hand below
            dialog->chkRequest->setChecked(true);
            EXPECT_EQ(dialog->cmbRequestOutput->currentIndex(), output) << "the main window's port by default";
            dialog->cmbRequest->setCurrentIndex(1);  // the loaded message
            QTest::mouseClick(dialog->btnStart, Qt::LeftButton);
            sender.Send(wire);
            started = true;
        } else if (dialog->lblCount->text() == done) {
            QTest::mouseClick(dialog->btnStop, Qt::LeftButton);
        } else if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "still " << dialog->lblCount->text().toStdString();
            QTest::mouseClick(dialog->btnStop, Qt::LeftButton);
        }
    });

    ASSERT_GT(inputEntry, 0) << "the sender is not listed";
    EXPECT_EQ(settings::InPortSetting, inputEntry);
    EXPECT_EQ(rx.WaitForBytes(kGmOn.size() + request.size(), testsupport::Patience), Concat({kGmOn, request}));
    ASSERT_EQ(sysex::SysExCount, 3);
    for (std::size_t k = 0; k < messages.size(); ++k) {
        EXPECT_TRUE(Bytes(sysex::SysExData[k], sysex::SysExData[k] + messages[k].size()) == messages[k]) << k;
    }
    const QStringList received{"0001 5Byte", "0002 65535Byte", "0003 299Byte"};
    EXPECT_EQ(Lines(w.form->SysEx), received);
    EXPECT_TRUE(w.form->SysInfo->toPlainText().isEmpty());
    EXPECT_EQ(w.recorder.notices, QStringList{QStringLiteral("3 メッセージ (65842 バイト) を記録しました")});

    const std::string saved = dir.File("received.syx").string();
    w.saveSyx->answers = {saved};
    w.form->ExportRawDump->trigger();
    EXPECT_TRUE(testsupport::ReadAll(saved) == Concat(messages));
    w.open->answers = {saved};
    w.form->SysexI1->trigger();
    EXPECT_EQ(Lines(w.form->SysEx), received);
    EXPECT_TRUE(w.recorder.failures.isEmpty()) << w.recorder.failures.join("|").toStdString();
}

}  // namespace
