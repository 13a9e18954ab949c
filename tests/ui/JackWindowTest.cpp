// The window sending for real: a JACK server with the dummy driver and a receiver that writes
// down every byte, driven through the real TForm1.

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "FormFixture.h"
#include "JackProcesses.h"
#include "Messages.h"
#include "TempDir.h"
#include "midi/Port.h"
#include "settings/Settings.h"
#include "sysex/Store.h"
#include "ui/MessageList.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

const Bytes kGmOn{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};

using testsupport::Concat;
Bytes Message(std::size_t total, std::uint8_t seed) { return testsupport::PatternMessage(total, seed); }

class JackWindow : public ::testing::Test {
protected:
    void SetUp() override {
        sysex::ResetStoreForTests();
        settings::ResetSettingsForTests();
        midi::ResetPortStateForTests();
        const std::string name = std::string("rxw-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        rx = std::make_unique<kelvane::testing::JackReceiver>(name.substr(0, 24));
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
    void ChooseReceiver() {
        w->form->cmbOutput->setCurrentIndex(entry);
        emit w->form->cmbOutput->activated(entry);
    }
    // Nothing more arrives within a generous moment.
    Bytes Settled(std::size_t expected) {
        Bytes got = rx->WaitForBytes(expected, 10s);
        std::this_thread::sleep_for(300ms);
        return rx->Bytes();
    }

    std::unique_ptr<kelvane::testing::JackReceiver> rx;
    std::unique_ptr<uitest::FormUnderTest> w;
    testsupport::TempDir dir;
    int entry = -1;
};

TEST_F(JackWindow, ChoosingTheReceiverSendsExactlyGmSystemOn) {
    ChooseReceiver();
    EXPECT_EQ(Settled(6), kGmOn);
    EXPECT_TRUE(w->form->EXC_SW->isChecked());
}

TEST_F(JackWindow, NoneAndUntickedMidiOutSendNothing) {
    emit w->form->cmbOutput->activated(0);
    w->form->ExcOut(kGmOn.data(), 5);
    ChooseReceiver();
    rx->WaitForBytes(6, 10s);
    w->form->EXC_SW->setChecked(false);
    const Bytes m = Message(100, 1);
    w->form->ExcOut(m.data(), 99);
    EXPECT_EQ(Settled(6), kGmOn);
}

TEST_F(JackWindow, ExcOutDeliversEverySizeWholeAndInOrder) {
    ChooseReceiver();
    std::vector<Bytes> sent{kGmOn};
    for (std::size_t size : {6u, 1000u, 20000u, 65536u}) {
        sent.push_back(Message(size, static_cast<std::uint8_t>(size)));
        w->form->ExcOut(sent.back().data(), static_cast<int>(size) - 1);
    }
    const Bytes expected = Concat(sent);
    EXPECT_EQ(Settled(expected.size()), expected);
}

TEST_F(JackWindow, HundredMessagesBackToBackAllArrive) {
    ChooseReceiver();
    std::vector<Bytes> sent{kGmOn};
    for (int i = 0; i < 100; ++i) {
        sent.push_back(Message(50 + static_cast<std::size_t>(i) * 37, static_cast<std::uint8_t>(i)));
        w->form->ExcOut(sent.back().data(), static_cast<int>(sent.back().size()) - 1);
    }
    const Bytes expected = Concat(sent);
    EXPECT_EQ(Settled(expected.size()), expected);
}

TEST_F(JackWindow, SelectedLinesOfALoadedDumpArriveExactly) {
    ChooseReceiver();
    rx->WaitForBytes(6, 10s);
    const std::vector<Bytes> messages{Message(10, 1), Message(3000, 2), Message(40000, 3), Message(7, 4)};
    w->open->answers = {dir.Write("dump.syx", Concat(messages))};
    QTest::keyClick(w->form.get(), Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(w->form->SysEx->count(), 4);
    auto* list = w->form->SysEx;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
    Bytes expected = Concat({kGmOn, messages[1]});
    EXPECT_EQ(Settled(expected.size()), expected);
    for (int i = 0; i < 2; ++i) QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Up);
    expected = Concat({kGmOn, messages[1], messages[2], messages[3], messages[2]});
    EXPECT_EQ(Settled(expected.size()), expected);
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
    }, 30s));
    EXPECT_EQ(rx.WaitForBytes(6, 10s), kGmOn);

    own.Server().Suspend();
    w = std::make_unique<uitest::FormUnderTest>();
    w->ShowAndActivate();
    EXPECT_TRUE(w->form->isVisible());
    EXPECT_EQ(w->form->cmbOutput->findText(QString::fromStdString(rx.PortName())), -1);
    own.Server().Resume();
    w.reset();
    midi::ResetPortStateForTests();
    EXPECT_TRUE(midi::WaitForClosedPorts(30s));
}
