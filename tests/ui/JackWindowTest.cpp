// The window sending for real: a JACK server with the dummy driver and a receiver that writes
// down every byte, driven through the real TForm1.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QListWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>

#include "FormFixture.h"
#include "JackProcesses.h"
#include "Messages.h"
#include "TempDir.h"
#include "midi/Port.h"
#include "settings/Settings.h"
#include "sysex/Store.h"
#include "ui/MessageList.h"
#include "ui/PortSelector.h"
#include "ui/Send.h"

namespace {

using testsupport::Bytes;
using testsupport::Concat;
using testsupport::PatternMessage;

const Bytes kGmOn{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};

class JackWindow : public ::testing::Test {
protected:
    void SetUp() override {
        sysex::ResetStoreForTests();
        settings::ResetSettingsForTests();
        midi::ResetPortStateForTests();
        const std::string name = std::string("rxw-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        rx = std::make_unique<kelvane::testing::JackReceiver>(name.substr(0, 24), ReceiverKind());
        w = std::make_unique<uitest::FormUnderTest>();
        w->ShowAndActivate();
        for (int i = 0; i < w->form->cmbOutput->count(); ++i)
            if (w->form->cmbOutput->itemText(i).toStdString() == rx->PortName()) entry = i;
        ASSERT_GT(entry, 0) << "the receiver is not listed";
    }
    void TearDown() override {
        w.reset();
        midi::ResetPortStateForTests();
    }
    virtual kelvane::testing::JackReceiver::Kind ReceiverKind() const {
        return kelvane::testing::JackReceiver::Kind::Program;
    }
    void ChooseReceiver() {
        w->form->cmbOutput->setCurrentIndex(entry);
        emit w->form->cmbOutput->activated(entry);
    }
    // What the window has sent since the last call, once it has all arrived: a marker handed to
    // the open port after it arrives last.
    std::optional<Bytes> Sent() {
        const Bytes marker = testsupport::NewEndMarker();
        midi::SendOnOpenPort(marker.data(), static_cast<std::int32_t>(marker.size() - 1));
        const auto before = rx->BytesBefore(marker, testsupport::Patience);
        if (!before || before->size() < seen) return std::nullopt;
        const Bytes since(before->begin() + static_cast<std::ptrdiff_t>(seen), before->end());
        seen = before->size() + marker.size();
        return since;
    }

    std::unique_ptr<kelvane::testing::JackReceiver> rx;
    std::unique_ptr<uitest::FormUnderTest> w;
    testsupport::TempDir dir;
    int entry = -1;
    std::size_t seen = 0;  // bytes received up to the last marker
};

TEST_F(JackWindow, ChoosingTheReceiverSendsExactlyGmSystemOn) {
    ChooseReceiver();
    EXPECT_EQ(Sent(), kGmOn);
    EXPECT_TRUE(w->form->EXC_SW->isChecked());
}

TEST_F(JackWindow, NoneAndUntickedMidiOutSendNothing) {
    emit w->form->cmbOutput->activated(0);
    w->form->ExcOut(kGmOn.data(), 5);
    ChooseReceiver();
    rx->WaitForBytes(6, testsupport::Patience);
    w->form->EXC_SW->setChecked(false);
    const Bytes m = PatternMessage(100, 1);
    w->form->ExcOut(m.data(), 99);
    EXPECT_EQ(Sent(), kGmOn);
}

TEST_F(JackWindow, ExcOutDeliversEverySizeWholeAndInOrder) {
    ChooseReceiver();
    std::vector<Bytes> sent{kGmOn};
    for (std::size_t size : {6u, 1000u, 20000u, 65536u}) {
        sent.push_back(PatternMessage(size, static_cast<unsigned>(size)));
        w->form->ExcOut(sent.back().data(), static_cast<int>(size) - 1);
    }
    const Bytes expected = Concat(sent);
    EXPECT_EQ(Sent(), expected);
}

TEST_F(JackWindow, HundredMessagesBackToBackAllArrive) {
    ChooseReceiver();
    std::vector<Bytes> sent{kGmOn};
    for (int i = 0; i < 100; ++i) {
        sent.push_back(PatternMessage(50 + static_cast<std::size_t>(i) * 37, static_cast<unsigned>(i)));
        w->form->ExcOut(sent.back().data(), static_cast<int>(sent.back().size()) - 1);
    }
    const Bytes expected = Concat(sent);
    EXPECT_EQ(Sent(), expected);
}

TEST_F(JackWindow, SelectedLinesOfALoadedDumpArriveExactly) {
    ChooseReceiver();
    rx->WaitForBytes(6, testsupport::Patience);
    const std::vector<Bytes> messages{PatternMessage(10, 1), PatternMessage(3000, 2), PatternMessage(40000, 3),
                                      PatternMessage(7, 4)};
    w->open->answers = {dir.Write("dump.syx", Concat(messages))};
    QTest::keyClick(w->form.get(), Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(w->form->SysEx->count(), 4);
    auto* list = w->form->SysEx;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->RowRect(1).center());
    EXPECT_EQ(Sent(), Concat({kGmOn, messages[1]}));
    for (int i = 0; i < 2; ++i) QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Up);
    EXPECT_EQ(Sent(), Concat({messages[2], messages[3], messages[2]}));
}

// A port that leads to a cable gets each message in pieces sized for the chosen speed, so what
// arrives there shows the pace the engine was handed.
class JackWindowToACable : public JackWindow {
protected:
    kelvane::testing::JackReceiver::Kind ReceiverKind() const override {
        return kelvane::testing::JackReceiver::Kind::Physical;
    }
};

// "送信(&T)..." opens with the remembered pace and sends a range of the loaded messages,
// byte-exact, in order, also with "MIDI OUT" unticked; the pace it remembers is the one it handed
// to the engine, whose pieces show the chosen speed.
TEST_F(JackWindowToACable, SendDialogSendsTheChosenRangeInOrderAndRemembersThePace) {
    const std::vector<Bytes> bank{PatternMessage(100, 1), PatternMessage(700, 2), PatternMessage(6, 3),
                                  PatternMessage(2000, 4), PatternMessage(50, 5)};
    w->open->answers = {dir.Write("bank.syx", Concat(bank))};
    w->form->SysexI1->trigger();
    ChooseReceiver();
    ASSERT_EQ(Sent(), kGmOn);
    w->form->EXC_SW->setChecked(false);
    w->form->SysEx->setCurrentRow(1);  // from the selected line...
    settings::SaveSendPace({200, 25}, settings::DefaultRegistryStore());
    bool started = false;
    midi::TransmissionOutcome outcome;
    uitest::DriveModal<ui::TSend>([&] { w->form->SendDump->trigger(); }, [&](ui::TSend* dialog) {
        if (!started) {
            EXPECT_EQ(dialog->lblPort->text().toStdString(), rx->PortName());
            EXPECT_TRUE(dialog->rbRange->isChecked());
            EXPECT_EQ(dialog->edtFrom->value(), 2);
            EXPECT_EQ(dialog->edtTo->value(), 5);  // ...to the last
            EXPECT_EQ(std::make_pair(dialog->edtPause->value(), dialog->cmbSpeed->currentData().toInt()),
                      std::make_pair(200, 25));
            dialog->edtTo->setValue(4);
            dialog->edtPause->setValue(300);
            dialog->cmbSpeed->setCurrentIndex(dialog->cmbSpeed->findData(50));
            QTest::mouseClick(dialog->btnStart, Qt::LeftButton);
            started = true;
        } else if (const midi::TransmissionOutcome* done = dialog->LastOutcome()) {
            outcome = *done;
            QTest::mouseClick(dialog->btnClose, Qt::LeftButton);
        }
    });
    EXPECT_EQ(outcome.messagesWhole, 3u);
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(Sent(), Concat({bank[1], bank[2], bank[3]}));
    const settings::SendPace remembered = settings::LoadSendPace(settings::DefaultRegistryStore());
    EXPECT_EQ(std::make_pair(remembered.pauseMs, remembered.speedPercent), std::make_pair(300u, 50u));
    ASSERT_EQ(rx->Stop(), 0);
    std::size_t largest = 0;
    for (const auto& event : rx->Events()) largest = std::max<std::size_t>(largest, event.size);
    EXPECT_LE(largest, midi::ChunkBytes(50));
}

}  // namespace

// Counts the paint events of one window's widgets.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* window) : window_(window) { qApp->installEventFilter(this); }
    ~PaintCounter() override { qApp->removeEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(object);
        if (event->type() == QEvent::Paint && widget && widget->window() == window_) ++paints;
        return false;
    }

private:
    QWidget* window_;
};

// A suspended server (SIGSTOP) answers nothing. A port change gives up within the bound, unticks
// and disables "MIDI OUT" and lets the window repaint meanwhile; once the server runs again a
// change opens the port; a start while it is suspended shows the window without JACK's ports.
TEST(JackWindowSuspendedServer, NeitherAPortChangeNorStartUpWaitsForIt) {
    sysex::ResetStoreForTests();
    settings::ResetSettingsForTests();
    midi::ResetPortStateForTests();
    kelvane::testing::OwnJackServer own("-window");
    kelvane::testing::JackReceiver rx("rxw-suspended");
    auto w = std::make_unique<uitest::FormUnderTest>();
    w->ShowAndActivate();
    const int entry = w->form->cmbOutput->findText(QString::fromStdString(rx.PortName()));
    ASSERT_GT(entry, 0) << "the receiver is not listed";
    auto choose = [&] {
        w->form->cmbOutput->setCurrentIndex(entry);
        emit w->form->cmbOutput->activated(entry);
    };

    own.Server().Suspend();
    {
        PaintCounter counter(w->form.get());
        w->form->update();
        choose();
        EXPECT_GT(counter.paints, 0);
    }
    EXPECT_FALSE(w->form->EXC_SW->isChecked());
    EXPECT_FALSE(w->form->EXC_SW->isEnabled());

    own.Server().Resume();
    ASSERT_TRUE(kelvane::testing::WaitUntil([&] {
        choose();
        return w->form->EXC_SW->isChecked();
    }, testsupport::Patience));
    EXPECT_EQ(rx.WaitForBytes(6, testsupport::Patience), kGmOn);

    own.Server().Suspend();
    w = std::make_unique<uitest::FormUnderTest>();
    w->ShowAndActivate();
    EXPECT_TRUE(w->form->isVisible());
    EXPECT_EQ(w->form->cmbOutput->findText(QString::fromStdString(rx.PortName())), -1);
    own.Server().Resume();
    w.reset();
    midi::ResetPortStateForTests();
    EXPECT_TRUE(midi::WaitForClosedPorts(testsupport::Patience));
}
