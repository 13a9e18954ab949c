// The port selector and "MIDI OUT" through the real window, over a recording output service:
// start-up, every kind of user choice, and what is remembered.

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "FakeOutputService.h"
#include "FormFixture.h"
#include "StoredSettings.h"
#include "TempDir.h"
#include "Wait.h"
#include "midi/Port.h"
#include "settings/Settings.h"
#include "sysex/Store.h"
#include "ui/PortSelector.h"
#include "ui/Send.h"

namespace {

using midi::testing::FakeDevice;
using midi::testing::FakeLog;
using midi::testing::FakeOutputService;

const char* const kGmOn = "F0 7E 7F 09 01 F7";

uitest::StoredValue Byte(const char* name, std::uint8_t value) { return {name, settings::RegBinary, {value}}; }

class PortSelection : public ::testing::Test {
protected:
    void SetUp() override {
        sysex::ResetStoreForTests();
        settings::ResetSettingsForTests();
        midi::ResetPortStateForTests();
        uitest::ForgetStoredSettings();
        std::filesystem::remove("KELVANE.cfg");
    }
    void TearDown() override {
        w.reset();
        midi::ResetPortStateForTests();
        std::filesystem::remove("KELVANE.cfg");
    }
    void Start(std::vector<FakeDevice> devices) {
        midi::InstallOutputService(std::make_unique<FakeOutputService>(std::move(devices), log));
        w = std::make_unique<uitest::FormUnderTest>();
    }
    void MarkerFile() { std::ofstream("KELVANE.cfg") << ""; }
    // A user's choice in the closed selector, as the keyboard makes it.
    void ChooseWithKeys(int entry) {
        w->ShowAndActivate();
        auto* combo = w->form->cmbOutput;
        combo->setFocus();
        while (combo->currentIndex() < entry) QTest::keyClick(combo, Qt::Key_Down);
        while (combo->currentIndex() > entry) QTest::keyClick(combo, Qt::Key_Up);
    }
    std::uint8_t StoredOut() {
        settings::OutPortSetting = 0xEE;
        settings::MIDI_Reg(settings::LoadMode, settings::DefaultRegistryStore());
        return settings::OutPortSetting;
    }

    std::shared_ptr<FakeLog> log = std::make_shared<FakeLog>();
    std::unique_ptr<uitest::FormUnderTest> w;
};

TEST_F(PortSelection, StartWithoutMarkerFileForgetsThePortAndTicksMidiOut) {
    uitest::StoreSettings({Byte("KELV_Out", 2)});
    Start(FakeOutputService::Numbered(3));
    QStringList entries;
    for (int i = 0; i < w->form->cmbOutput->count(); ++i) entries << w->form->cmbOutput->itemText(i);
    EXPECT_EQ(entries, (QStringList{"(None)", "Device 0", "Device 1", "Device 2"}));
    EXPECT_EQ(w->form->cmbOutput->currentIndex(), 0);
    EXPECT_TRUE(w->form->EXC_SW->isChecked());
    EXPECT_TRUE(w->form->EXC_SW->isEnabled());
    EXPECT_TRUE(log->empty());  // no port opened, nothing sent at start-up
    EXPECT_EQ(StoredOut(), 0);
    EXPECT_EQ(sysex::SysExCount, 0);
}

TEST_F(PortSelection, StartWithMarkerFileOpensTheRememberedPortWithoutGmSystemOn) {
    MarkerFile();
    uitest::StoreSettings({Byte("KELV_In", 7), Byte("KELV_Out", 3)});
    Start(FakeOutputService::Numbered(3));
    EXPECT_EQ(w->form->cmbOutput->currentIndex(), 3);
    EXPECT_TRUE(w->form->EXC_SW->isChecked());
    EXPECT_EQ(*log, (FakeLog{"open 2 Device 2"}));
    EXPECT_EQ(settings::InPortSetting, 7);
}

// A Windows user's file as regedit exports it: UTF-16LE with a byte-order mark and CRLF lines.
// Only where the settings live in such a file; Windows keeps them in the registry itself.
#ifndef _WIN32
TEST_F(PortSelection, RegeditsUtf16ExportSelectsTheRememberedPort) {
    MarkerFile();
    const std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\ZORVIK]\r\n"
                                u"\"KELV_In\"=hex:00\r\n\"KELV_Out\"=hex:02\r\n\r\n";
    {
        std::ofstream file(std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "ZORVIK.reg", std::ios::binary);
        file << '\xFF' << '\xFE';
        for (const char16_t unit : text) file << static_cast<char>(unit & 0xFF) << static_cast<char>(unit >> 8);
    }
    Start(FakeOutputService::Numbered(3));
    EXPECT_EQ(w->form->cmbOutput->currentIndex(), 2);
    EXPECT_EQ(*log, (FakeLog{"open 1 Device 1"}));
}
#endif

TEST_F(PortSelection, RememberedPortBeyondTheListSelectsNothingAndUnticks) {
    MarkerFile();
    uitest::StoreSettings({Byte("KELV_Out", 5)});
    Start(FakeOutputService::Numbered(2));
    EXPECT_EQ(w->form->cmbOutput->currentIndex(), -1);
    EXPECT_TRUE(w->form->cmbOutput->currentText().isEmpty());
    EXPECT_FALSE(w->form->EXC_SW->isChecked());
    EXPECT_TRUE(w->form->EXC_SW->isEnabled());
    EXPECT_EQ(midi::OutDeviceIndex, 5);
    EXPECT_TRUE(w->recorder.failures.isEmpty());
}

// Numbers move as devices come and go; the remembered name finds the port wherever it stands,
// and a name that has gone opens nothing rather than the port that now has the number. Names
// are whole: two long ones that differ only past what the list shows are two ports.
TEST_F(PortSelection, TheRememberedOutputIsFoundByName) {
    // JACK clients of one program: the first 32 characters alike.
    const std::string longA = "a2j:Midi Through [14] (playback): Midi Through Port-0";
    const std::string longB = "a2j:Midi Through [14] (playback): Midi Through Port-1";
    const std::vector<FakeDevice> longNames{{longA}, {longB}};
    const struct {
        std::string name;
        std::uint8_t byte;
        std::vector<FakeDevice> devices;
        int selected;
        FakeLog opened;
    } cases[] = {
        {"Device 2", 1, FakeOutputService::Numbered(3), 3, {"open 2 Device 2"}},
        {"Device 0", 3, FakeOutputService::Numbered(3), 1, {"open 0 Device 0"}},
        {"Gone", 1, FakeOutputService::Numbered(3), -1, {}},
        {longB, 1, longNames, 2, {"open 1 " + longB}},
        // Saved by an earlier version, cut as the list showed it: the first port it stands for.
        {longB.substr(0, 32), 2, longNames, 1, {"open 0 " + longA}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MarkerFile();
        uitest::StoreSettings({Byte("KELV_Out", c.byte), {"KELV_OutName", settings::RegBinary, {c.name.begin(), c.name.end()}}});
        w.reset();
        midi::ResetPortStateForTests();
        log->clear();
        Start(c.devices);
        EXPECT_EQ(w->form->cmbOutput->currentIndex(), c.selected);
        EXPECT_EQ(*log, c.opened);
        EXPECT_EQ(w->form->EXC_SW->isChecked(), c.selected > 0);
        EXPECT_TRUE(w->recorder.failures.isEmpty());
    }
    // A choice is remembered by its whole name too, whatever the list shows of it.
    EXPECT_EQ(w->form->cmbOutput->itemText(2).toStdString(), longB.substr(0, 32));
    ChooseWithKeys(2);
    settings::OutPortNameSetting.clear();
    StoredOut();
    EXPECT_EQ(settings::OutPortNameSetting, longB);
}

// The list is read afresh each time the user opens it: a device plugged in meanwhile can be
// chosen, the chosen port keeps its place by name, and one that has gone is told once.
TEST_F(PortSelection, TheListFollowsTheDevicesWhenOpened) {
    auto service = std::make_unique<FakeOutputService>(std::vector<FakeDevice>{{"A"}, {"B"}}, log);
    FakeOutputService* devices = service.get();
    midi::InstallOutputService(std::move(service));
    w = std::make_unique<uitest::FormUnderTest>();
    ChooseWithKeys(2);
    auto* combo = w->form->cmbOutput;

    devices->SetDevices({{"New"}, {"A"}, {"B"}});
    combo->showPopup();
    combo->hidePopup();
    EXPECT_EQ(combo->count(), 4);
    EXPECT_EQ(combo->currentText(), QStringLiteral("B"));
    EXPECT_EQ(midi::OutDeviceIndex, 3);
    EXPECT_TRUE(w->recorder.notices.isEmpty());
    log->clear();
    ChooseWithKeys(1);  // the new one can be chosen
    EXPECT_EQ(log->at(log->size() - 2), "open 0 New");

    ChooseWithKeys(3);
    devices->SetDevices({{"New"}, {"A"}});
    for (int opened = 0; opened < 2; ++opened) {
        combo->showPopup();
        combo->hidePopup();
    }
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_FALSE(w->form->EXC_SW->isChecked());
    EXPECT_EQ(log->back(), "close 2");
    ASSERT_EQ(w->recorder.notices.size(), 1) << "told once";
    EXPECT_TRUE(w->recorder.notices[0].startsWith(QStringLiteral("出力ポート「B」が見つかりません"))) << w->recorder.notices[0].toStdString();
}

// A send whose port went away meanwhile says so, and how to choose another port, instead of a
// bare count; the dialog no longer offers to send on it.
TEST_F(PortSelection, ASendWhosePortHasGoneSaysHowToChooseAnother) {
    auto service = std::make_unique<FakeOutputService>(std::vector<FakeDevice>{{"Synth", false, 0, true}}, log);
    FakeOutputService* devices = service.get();
    midi::InstallOutputService(std::move(service));
    w = std::make_unique<uitest::FormUnderTest>();
    ChooseWithKeys(1);
    testsupport::TempDir dir;
    w->open->answers = {dir.Write("one.syx", {0xF0, 0x43, 0x10, 0xF7})};
    w->form->SysexI1->trigger();
    int step = 0;
    const testsupport::GiveUp giveUp;
    QString shown;
    uitest::DriveModal<ui::TSend>([&] { w->form->SendDump->trigger(); }, [&](ui::TSend* d) {
        if (step++ == 0) {
            devices->SetDevices({});
            QTest::mouseClick(d->btnStart, Qt::LeftButton);
        } else if (d->LastOutcome() || giveUp.Now()) {
            shown = d->lblProgress->text();
            EXPECT_FALSE(d->btnStart->isEnabled());
            d->reject();
        }
    });
    EXPECT_TRUE(shown.startsWith(QStringLiteral("出力ポート「Synth」がなくなったため"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("MIDI OUT の一覧から出力ポートを選び直して"))) << shown.toStdString();
    EXPECT_EQ(w->form->cmbOutput->currentIndex(), -1);
    EXPECT_TRUE(w->recorder.notices.isEmpty()) << "told in the dialog, not twice";
}

TEST_F(PortSelection, FailedOpenAtStartUnticksButLeavesTheBoxEnabled) {
    MarkerFile();
    uitest::StoreSettings({Byte("KELV_Out", 1)});
    Start({FakeDevice{"Busy", false, 4}});
    EXPECT_EQ(w->form->cmbOutput->currentIndex(), 1);
    EXPECT_FALSE(w->form->EXC_SW->isChecked());
    EXPECT_TRUE(w->form->EXC_SW->isEnabled());
}

TEST_F(PortSelection, BadStoredTypeIsReportedAndTheWindowStillComesUp) {
    MarkerFile();
    uitest::StoreSettings({{"KELV_Out", settings::RegDword, {3, 0, 0, 0}}});
    Start(FakeOutputService::Numbered(3));
    EXPECT_EQ(w->recorder.failures, QStringList{QStringLiteral("'KELV_Out' のデータ型が不正です.")});
    EXPECT_EQ(w->form->cmbOutput->count(), 4);
    EXPECT_EQ(w->form->cmbOutput->currentIndex(), -1);
    EXPECT_FALSE(w->form->EXC_SW->isChecked());
    EXPECT_TRUE(w->form->EXC_SW->isEnabled());
    EXPECT_TRUE(log->empty());
    EXPECT_EQ(w->form->cursor().shape(), Qt::ArrowCursor);  // the hourglass went away
    w->ShowAndActivate();
    EXPECT_TRUE(w->form->isVisible());
}

TEST_F(PortSelection, EveryEntryPassedWithTheArrowKeysIsOpenedGreetedAndSaved) {
    Start(FakeOutputService::Numbered(2));
    ChooseWithKeys(2);
    EXPECT_EQ(*log, (FakeLog{"open 0 Device 0", std::string("send 0: ") + kGmOn, "close 0", "open 1 Device 1",
                             std::string("send 1: ") + kGmOn}));
    EXPECT_EQ(StoredOut(), 2);
    EXPECT_TRUE(w->form->EXC_SW->isChecked());
    EXPECT_TRUE(w->form->EXC_SW->isEnabled());
}

TEST_F(PortSelection, ChoosingTheSameEntryAgainReopensAndGreetsAgain) {
    Start(FakeOutputService::Numbered(1));
    ChooseWithKeys(1);
    log->clear();
    emit w->form->cmbOutput->activated(1);  // what the popup raises for a click on the same entry
    EXPECT_EQ(*log, (FakeLog{"close 0", "open 0 Device 0", std::string("send 0: ") + kGmOn}));
}

TEST_F(PortSelection, ChoosingNoneClosesTicksSendsNothingAndSavesZero) {
    Start(FakeOutputService::Numbered(1));
    ChooseWithKeys(1);
    log->clear();
    ChooseWithKeys(0);
    EXPECT_EQ(*log, (FakeLog{"close 0"}));
    EXPECT_TRUE(w->form->EXC_SW->isChecked());
    EXPECT_TRUE(w->form->EXC_SW->isEnabled());
    EXPECT_EQ(StoredOut(), 0);
}

TEST_F(PortSelection, FailedOpenOnChangeDisablesMidiOutSkipsGreetingAndStillSaves) {
    Start({FakeDevice{"Good"}, FakeDevice{"Broken", false, 4}});
    ChooseWithKeys(2);
    EXPECT_EQ(log->back(), "open 1 Broken -> 4");
    EXPECT_FALSE(w->form->EXC_SW->isChecked());
    EXPECT_FALSE(w->form->EXC_SW->isEnabled());
    EXPECT_EQ(w->recorder.notices, QStringList{QStringLiteral("出力ポート「Broken」を開けません: refused")});
    EXPECT_EQ(StoredOut(), 2);
    ChooseWithKeys(1);  // a later good choice enables it again
    EXPECT_TRUE(w->form->EXC_SW->isChecked());
    EXPECT_TRUE(w->form->EXC_SW->isEnabled());
}

TEST_F(PortSelection, SettingTheSelectionFromCodeRunsNoHandler) {
    Start(FakeOutputService::Numbered(2));
    w->form->cmbOutput->setCurrentIndex(2);
    EXPECT_TRUE(log->empty());
}

TEST_F(PortSelection, ManyDevicesListTheFirst255) {
    Start(FakeOutputService::Numbered(300));
    EXPECT_EQ(w->form->cmbOutput->count(), 256);
    EXPECT_EQ(w->form->cmbOutput->itemText(255), QStringLiteral("Device 254"));
}

TEST_F(PortSelection, UnreadableNameStillTakesItsPlace) {
    Start({FakeDevice{"A"}, FakeDevice{"", true, 0}, FakeDevice{"C"}});
    EXPECT_EQ(w->form->cmbOutput->itemText(3), QStringLiteral("C"));
    EXPECT_FALSE(w->form->cmbOutput->itemText(2).isEmpty());
}

}  // namespace
