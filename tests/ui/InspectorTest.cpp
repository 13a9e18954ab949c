// Selecting list lines: the information pane and what goes to the port.

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTest>
#include <gtest/gtest.h>

#include "FakeOutputService.h"
#include "FormFixture.h"
#include "TempDir.h"
#include "midi/Port.h"
#include "settings/Settings.h"
#include "sysex/Store.h"
#include "ui/MessageList.h"
#include "ui/PortSelector.h"

namespace {

using midi::testing::FakeLog;
using midi::testing::FakeOutputService;

class Inspector : public ::testing::Test {
protected:
    void SetUp() override {
        sysex::ResetStoreForTests();
        settings::ResetSettingsForTests();
        midi::ResetPortStateForTests();
        midi::InstallOutputService(std::make_unique<FakeOutputService>(FakeOutputService::Numbered(1), log));
        w = std::make_unique<uitest::FormUnderTest>();
        w->ShowAndActivate();
        w->form->cmbOutput->setCurrentIndex(1);
        emit w->form->cmbOutput->activated(1);
        log->clear();
        w->open->answers = {dir.Write("four.syx", {0xF0, 0x42, 0x30, 0x28, 0x40, 0xF7,   //
                                                  0xF0, 0x41, 0x10, 0x42, 0x12, 0x00, 0xF7,  //
                                                  0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7,  //
                                                  0xF0, 0xF7})};
        w->form->SysexI1Click();
        ASSERT_EQ(w->form->SysEx->count(), 4);
        ASSERT_TRUE(log->empty());  // filling the list sends nothing
    }
    void TearDown() override {
        w.reset();
        midi::ResetPortStateForTests();
    }
    void ClickLine(int row) {
        auto* list = w->form->SysEx;
        const QRect r = list->RowRect(row);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
    }
    QString Pane() const { return w->form->SysInfo->toPlainText(); }

    testsupport::TempDir dir;
    std::shared_ptr<FakeLog> log = std::make_shared<FakeLog>();
    std::unique_ptr<uitest::FormUnderTest> w;
};

TEST_F(Inspector, ClickShowsTheHeaderAndSendsTheWholeMessage) {
    ClickLine(1);
    EXPECT_EQ(Pane(), QStringLiteral("Vendor:Roland\nMachine:Unknown(42H)\nSysExCH:00\nFunction:12H"));
    EXPECT_EQ(*log, FakeLog{"send 0: F0 41 10 42 12 00 F7"});
}

TEST_F(Inspector, ClickingTheSelectedLineAgainSendsItAgain) {
    ClickLine(2);
    ClickLine(2);
    EXPECT_EQ(*log, (FakeLog{"send 0: F0 7E 7F 09 01 F7", "send 0: F0 7E 7F 09 01 F7"}));
    EXPECT_EQ(Pane(), QStringLiteral("Vendor:Unknown(7EH)\nMachine:Unknown(09H)\nSysExCH:0F\nFunction:01H"));
}

TEST_F(Inspector, ArrowKeysSendEveryLineReachedInOrder) {
    ClickLine(0);
    log->clear();
    for (int i = 0; i < 3; ++i) QTest::keyClick(w->form->SysEx, Qt::Key_Down);
    EXPECT_EQ(*log, (FakeLog{"send 0: F0 41 10 42 12 00 F7", "send 0: F0 7E 7F 09 01 F7", "send 0: F0 F7"}));
    QTest::keyClick(w->form->SysEx, Qt::Key_Down);  // already at the end: no line reached
    QTest::keyClick(w->form->SysEx, Qt::Key_Home);
    ASSERT_EQ(log->size(), 4u);
    EXPECT_EQ(log->back(), "send 0: F0 42 30 28 40 F7");
}

TEST_F(Inspector, AnotherLineReplacesThePane) {
    ClickLine(0);
    EXPECT_EQ(Pane(), QStringLiteral("Vendor:KORG\nMachine:Wave Station\nSysExCH:00\nFunction:40H"));
    ClickLine(3);
    // F0 F7 in a slot that held nothing before.
    EXPECT_EQ(Pane(), QStringLiteral("Vendor:Unknown(F7H)\nMachine:Unknown(00H)\nSysExCH:00\nFunction:00H"));
}

TEST_F(Inspector, UntickedMidiOutFillsThePaneAndSendsNothing) {
    w->form->EXC_SW->setChecked(false);
    ClickLine(0);
    EXPECT_TRUE(Pane().startsWith(QStringLiteral("Vendor:KORG")));
    EXPECT_TRUE(log->empty());
}

}  // namespace
