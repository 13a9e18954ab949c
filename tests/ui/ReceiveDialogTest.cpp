// The receive dialog through the real window over a stand-in input service: what it offers,
// what it remembers, and what stopping and cancelling do to the store.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <tuple>
#include <filesystem>
#include <fstream>

#include "FakeInputService.h"
#include "FakeOutputService.h"
#include "FormFixture.h"
#include "Messages.h"
#include "TempDir.h"
#include "Wait.h"
#include "midi/Input.h"
#include "midi/Port.h"
#include "settings/Settings.h"
#include "sysex/Identity.h"
#include "sysex/NamedRequests.h"
#include "sysex/Store.h"
#include "ui/LineBreaks.h"
#include "ui/MessageList.h"
#include "ui/Receive.h"

namespace {

using midi::testing::FakeDevice;
using midi::testing::FakeInputService;
using midi::testing::FakeInputState;
using testsupport::Bytes;
using testsupport::GiveUp;

class ReceiveDialog : public ::testing::Test {
protected:
    void SetUp() override {
        sysex::ResetStoreForTests();
        settings::ResetSettingsForTests();
        midi::ResetPortStateForTests();
        midi::ResetInputStateForTests();
        std::filesystem::remove(std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "ZORVIK.reg");
        std::ofstream("KELVANE.cfg") << "";
        midi::InstallOutputService(
            std::make_unique<midi::testing::FakeOutputService>(std::vector<FakeDevice>{}, log));
        midi::InstallInputService(std::make_unique<FakeInputService>(
            std::vector<FakeDevice>{{"Keys"}, {"Busy", false, 4}}, input));
        w = std::make_unique<uitest::FormUnderTest>();
        w->ShowAndActivate();
    }
    void TearDown() override {
        w.reset();
        midi::ResetPortStateForTests();
        midi::ResetInputStateForTests();
        std::filesystem::remove("KELVANE.cfg");
    }
    void Feed(const Bytes& bytes) { input->receiver(bytes); }
    // The window opened again with an output, "Synth", for requests to go to.
    void OpenWithASynthToAsk() {
        w.reset();
        midi::InstallOutputService(std::make_unique<midi::testing::FakeOutputService>(std::vector<FakeDevice>{{"Synth"}}, log));
        w = std::make_unique<uitest::FormUnderTest>();
        w->ShowAndActivate();
    }
    // 40 bytes of a bank: longer than a request.
    static Bytes Bank() {
        Bytes bank{0xF0, 0x43, 0x00, 0x09};
        bank.resize(40, 0x11);
        bank.back() = 0xF7;
        return bank;
    }

    std::shared_ptr<midi::testing::FakeLog> log = std::make_shared<midi::testing::FakeLog>();
    std::shared_ptr<FakeInputState> input = std::make_shared<FakeInputState>();
    std::unique_ptr<uitest::FormUnderTest> w;
    testsupport::TempDir dir;
};

TEST_F(ReceiveDialog, ChoiceIsRememberedInKelvInAndStopReplacesTheStoreAsALoadDoes) {
    settings::InPortSetting = 2;  // remembered from an earlier run
    w->open->answers = {dir.Write("old.syx", {0xF0, 0x01, 0xF7, 0xF0, 0x02, 0xF7})};
    w->form->SysexI1->trigger();
    w->form->SysEx->setCurrentRow(1);
    int step = 0;
    const GiveUp giveUp;
    uitest::DriveModal<ui::TReceive>([&] { w->form->ReceiveDump->trigger(); }, [&](ui::TReceive* d) {
        switch (step++) {
        case 0:
            EXPECT_EQ(d->cmbInput->count(), 3);
            EXPECT_EQ(d->cmbInput->currentText(), QStringLiteral("Busy"));
            EXPECT_EQ(d->cmbRequest->count(), 3 + static_cast<int>(sysex::NamedRequests().size()))
                << "typed in, then the two loaded messages, then the named requests";
            EXPECT_EQ(d->edtIdle->value(), 1.0);
            // Stopped by hand below: an idle stop after a second would race the test's steps.
            d->edtIdle->setValue(0);
            d->cmbInput->setCurrentIndex(1);
            emit d->cmbInput->activated(1);
            QTest::mouseClick(d->btnStart, Qt::LeftButton);
            ASSERT_TRUE(input->receiver);
            Feed({0xF0, 0x42, 0x10, 0xF8, 0x20, 0xF7, 0xF0, 0x43});
            Feed({0x30, 0xF7, 0xF0, 0x7E});  // the last message is still open at the stop
            break;
        default:
            // The dialog's own timer shows the count; a generous bound keeps a fault from hanging.
            const bool shown = d->lblCount->text() == QStringLiteral("2 メッセージ  11 バイト");
            if (shown || giveUp.Now()) {
                EXPECT_TRUE(shown) << d->lblCount->text().toStdString();
                QTest::mouseClick(d->btnStop, Qt::LeftButton);
            }
        }
    });
    EXPECT_FALSE(input->receiver) << "the input is still open";
    // Remembered at once, and written with the output byte left as it was.
    settings::InPortSetting = 0xEE;
    settings::MIDI_Reg(settings::LoadMode, settings::DefaultRegistryStore());
    EXPECT_EQ(settings::InPortSetting, 1);
    EXPECT_EQ(settings::OutPortSetting, 0);
    EXPECT_EQ(settings::InPortNameSetting, "Keys");

    ASSERT_EQ(sysex::SysExCount, 2);
    EXPECT_EQ(Bytes(sysex::SysExData[0], sysex::SysExData[0] + 5), (Bytes{0xF0, 0x42, 0x10, 0x20, 0xF7}));
    EXPECT_EQ(w->form->SysEx->count(), 2);
    EXPECT_EQ(w->form->SysEx->text(0), QStringLiteral("0001 42H 4Byte"));
    EXPECT_EQ(w->form->SysEx->currentRow(), -1);
    EXPECT_TRUE(w->form->SysInfo->toPlainText().isEmpty());
    EXPECT_EQ(w->recorder.notices, QStringList{QStringLiteral("2 メッセージ (9 バイト) を記録しました\n"
                                                              "途中で途切れたメッセージ (F7 がないもの) 1 件は記録しませんでした")});
}

TEST_F(ReceiveDialog, CancelAndAFailedOpenLeaveTheStoreAndListAlone) {
    w->open->answers = {dir.Write("old.syx", {0xF0, 0x01, 0xF7})};
    w->form->SysexI1->trigger();
    int step = 0;
    uitest::DriveModal<ui::TReceive>([&] { w->form->ReceiveDump->trigger(); }, [&](ui::TReceive* d) {
        switch (step++) {
        case 0:
            EXPECT_EQ(d->cmbInput->currentIndex(), 0);
            EXPECT_FALSE(d->btnStart->isEnabled());  // nothing to receive from "(None)"
            d->cmbInput->setCurrentIndex(2);
            emit d->cmbInput->activated(2);
            QTest::mouseClick(d->btnStart, Qt::LeftButton);
            break;
        case 1:
            d->cmbInput->setCurrentIndex(1);
            emit d->cmbInput->activated(1);
            QTest::mouseClick(d->btnStart, Qt::LeftButton);
            Feed({0xF0, 0x55, 0xF7});
            break;
        default:
            w->recorder.answers = {true};
            QTest::mouseClick(d->btnCancel, Qt::LeftButton);
        }
    });
    EXPECT_EQ(w->recorder.failures, QStringList{QStringLiteral("入力ポート Busy を開けません: busy.")});
    EXPECT_EQ(input->opened, 1);
    EXPECT_FALSE(input->receiver);
    ASSERT_EQ(sysex::SysExCount, 1);
    EXPECT_EQ(sysex::SysExData[0][1], 0x01);
    EXPECT_EQ(w->form->SysEx->count(), 1);
}

// Port numbers move as devices come and go; the name finds the port again, and a port that has
// gone is not replaced by whatever took its number.
TEST_F(ReceiveDialog, TheRememberedInputIsFoundByName) {
    // Two long names alike in what the list shows: the whole name tells them apart.
    const std::string longA = "a2j:Midi Through [14] (capture): Midi Through Port-0";
    const std::string longB = "a2j:Midi Through [14] (capture): Midi Through Port-1";
    for (const auto& [name, byte, selected] :
         {std::tuple{std::string("Busy"), 1, 2}, std::tuple{std::string("Gone"), 1, -1}, std::tuple{longB, 1, 2}}) {
        if (name == longB) {
            midi::InstallInputService(std::make_unique<FakeInputService>(std::vector<FakeDevice>{{longA}, {longB}}, input));
        }
        settings::InPortSetting = static_cast<std::uint8_t>(byte);
        settings::InPortNameSetting = name;
        uitest::DriveModal<ui::TReceive>([&] { w->form->ReceiveDump->trigger(); }, [&](ui::TReceive* d) {
            EXPECT_EQ(d->cmbInput->currentIndex(), selected) << name;
            d->reject();
        });
    }
}

// A named request goes out built from its fields; the identify button asks on 送信先 and shows
// the replies that came to 入力ポート, while the loaded dump stays as it was.
TEST_F(ReceiveDialog, NamedRequestsAndIdentifyUseTheChosenPorts) {
    OpenWithASynthToAsk();
    const Bytes reply{0xF0, 0x7E, 0x10, 0x06, 0x02, 0x41, 0x42, 0x02, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0xF7};
    int step = 0;
    const GiveUp giveUp;
    uitest::DriveModal<ui::TReceive>([&] { w->form->ReceiveDump->trigger(); }, [&](ui::TReceive* d) {
        switch (step++) {
        case 0: {
            d->cmbInput->setCurrentIndex(1);
            emit d->cmbInput->activated(1);
            d->cmbRequestOutput->setCurrentIndex(1);
            QTest::mouseClick(d->btnIdentify, Qt::LeftButton);
            ASSERT_TRUE(input->receiver);
            EXPECT_FALSE(d->btnStart->isEnabled()) << "one use of the input at a time";
            Feed(reply);
            break;
        }
        default:
            if (!d->btnIdentify->isEnabled() && !giveUp.Now()) return;  // the wait ends on the dialog's timer
            EXPECT_FALSE(input->receiver) << "the identify input is still open";
            EXPECT_EQ(d->lblIdentity->Text().toStdString(), sysex::IdentityReplyLine(*sysex::ParseIdentityReply(reply)));
            d->chkRequest->setChecked(true);
            d->cmbRequest->setCurrentIndex(d->cmbRequest->findData(QStringLiteral("roland-rq1")));
            ASSERT_EQ(d->edtParameters.size(), 4u);  // device, model, address, size
            EXPECT_FALSE(d->edtRequestHex->isVisible());
            d->edtParameters[1]->setText(QStringLiteral("42"));
            d->edtParameters[2]->setText(QStringLiteral("400000"));
            EXPECT_FALSE(d->btnStart->isEnabled());
            EXPECT_EQ(d->lblReason->Text().toStdString(),
                      "roland-rq1 には size (サイズ, 1-4 バイト (各 00H-7FH)) の指定が必要です");
            d->edtParameters[3]->setText(QStringLiteral("00007F"));
            QTest::mouseClick(d->btnStart, Qt::LeftButton);
            QTest::mouseClick(d->btnStop, Qt::LeftButton);
        }
    });
    EXPECT_EQ(*log, (midi::testing::FakeLog{"open 0 Synth", "send 0: F0 7E 7F 06 01 F7", "close 0", "open 0 Synth",
                                            "send 0: F0 41 10 42 11 40 00 00 00 00 7F 41 F7", "close 0"}));
    EXPECT_EQ(sysex::SysExCount, 0);
}

// The line under the request shows the bytes 開始 sends, as the request stands after each edit,
// or why there are none; a long message shows its first bytes and its length.
TEST_F(ReceiveDialog, TheBytesLineShowsWhatStartSendsAsTheRequestIsEdited) {
    w->open->answers = {dir.Write("bank.syx", Bank())};
    w->form->SysexI1->trigger();
    const sysex::NamedRequest& rq1 = *sysex::FindNamedRequest("roland-rq1");
    const std::string missingSize = sysex::BuildNamedRequest(rq1, {{"model", "42"}, {"address", "400000"}}).problem;
    const struct {
        const char* what;
        bool ticked;
        const char* request;  // a named request, or nothing: entry `message` (0: typed hex)
        int message;
        QString hex;
        std::vector<QString> fields;
        std::string shown;
    } cases[] = {
        {"not ticked", false, nullptr, 0, "F0 7E 7F 06 01 F7", {}, "「開始」では要求を送信しません"},
        {"typed hex", true, nullptr, 0, " f0 7e 7f 06 01 f7", {}, "「開始」で送信: F0 7E 7F 06 01 F7"},
        {"typed hex cut short", true, nullptr, 0, "F0 7E 7F", {},
         "送信するバイトを組み立てられません: " + sysex::ParseRequestHex("F0 7E 7F").problem},
        {"named, a field missing", true, "roland-rq1", 0, "", {"", "42", "400000", ""},
         "送信するバイトを組み立てられません: " + missingSize},
        {"named, whole", true, "roland-rq1", 0, "", {"", "42", "400000", "00007F"},
         "「開始」で送信: F0 41 10 42 11 40 00 00 00 00 7F 41 F7"},
        {"loaded bank", true, nullptr, 1, "", {},
         "「開始」で送信: F0 43 00 09 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 ... (全 40 バイト)"},
    };
    uitest::DriveModal<ui::TReceive>([&] { w->form->ReceiveDump->trigger(); }, [&](ui::TReceive* d) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            d->chkRequest->setChecked(c.ticked);
            d->cmbRequest->setCurrentIndex(c.request ? d->cmbRequest->findData(QString::fromUtf8(c.request)) : c.message);
            d->edtRequestHex->setText(c.hex);
            ASSERT_EQ(d->edtParameters.size(), c.fields.size());
            for (std::size_t i = 0; i < c.fields.size(); ++i) d->edtParameters[i]->setText(c.fields[i]);
            EXPECT_EQ(d->lblRequestBytes->Text().toStdString(), c.shown);
        }
        d->reject();
    });
}

// Replies answer the question asked on these ports with this request: a change to either takes
// them away. 送信先 can be chosen for 機器を確認 without ticking the request.
TEST_F(ReceiveDialog, IdentifyResultsGoWhenTheRequestOrAPortChanges) {
    OpenWithASynthToAsk();
    const struct {
        const char* what;
        std::function<void(ui::TReceive*)> change;
    } cases[] = {
        {"input port", [](ui::TReceive* d) { d->cmbInput->setCurrentIndex(2); }},
        {"送信先", [](ui::TReceive* d) { d->cmbRequestOutput->setCurrentIndex(1); }},
        {"request", [](ui::TReceive* d) { d->cmbRequest->setCurrentIndex(d->cmbRequest->findData(QStringLiteral("identity"))); }},
        {"typed hex", [](ui::TReceive* d) { d->edtRequestHex->setText(QStringLiteral("F0 7E 7F 06 01 F7")); }},
        {"a parameter", [](ui::TReceive* d) { d->edtParameters.at(0)->setText(QStringLiteral("10")); }},
    };
    int step = 0;
    uitest::DriveModal<ui::TReceive>([&] { w->form->ReceiveDump->trigger(); }, [&](ui::TReceive* d) {
        if (step++ == 0) {
            EXPECT_FALSE(d->chkRequest->isChecked());
            EXPECT_TRUE(d->cmbRequestOutput->isEnabled());
            for (const auto& c : cases) {
                SCOPED_TRACE(c.what);
                // Asked with 送信先 at (None): the answer says what is missing.
                d->cmbInput->setCurrentIndex(1);
                d->cmbRequestOutput->setCurrentIndex(0);
                if (std::string(c.what) == "a parameter") d->cmbRequest->setCurrentIndex(d->cmbRequest->findData(QStringLiteral("identity")));
                QTest::mouseClick(d->btnIdentify, Qt::LeftButton);
                ASSERT_FALSE(d->lblIdentity->Text().isEmpty());
                c.change(d);
                EXPECT_TRUE(d->lblIdentity->Text().isEmpty()) << d->lblIdentity->Text().toStdString();
            }
            // Changed while the replies are awaited: they no longer answer, and are not shown.
            d->cmbInput->setCurrentIndex(1);
            d->cmbRequestOutput->setCurrentIndex(1);
            QTest::mouseClick(d->btnIdentify, Qt::LeftButton);
            Feed({0xF0, 0x7E, 0x10, 0x06, 0x02, 0x41, 0x42, 0x02, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0xF7});
            d->edtParameters.at(0)->setText(QStringLiteral("11"));
            return;
        }
        if (!d->btnIdentify->isEnabled() && step < 1500) return;  // the wait ends on the dialog's timer
        EXPECT_TRUE(d->lblIdentity->Text().isEmpty()) << d->lblIdentity->Text().toStdString();
        d->reject();
    });
    EXPECT_EQ(*log, (midi::testing::FakeLog{"open 0 Synth", "send 0: F0 7E 7F 06 01 F7", "close 0"}));
}

// The dialog reads as a Japanese dialog: each parameter by its meaning with its range beside the
// field, every request entry whole, and no text broken inside a word however narrow its lines.
TEST_F(ReceiveDialog, LabelsAreJapaneseEntriesWholeAndNoWordIsBroken) {
    uitest::DriveModal<ui::TReceive>([&] { w->form->ReceiveDump->trigger(); }, [&](ui::TReceive* d) {
        d->chkRequest->setChecked(true);
        const sysex::NamedRequest& k1 = *sysex::FindNamedRequest("kawai-k1-patch");
        d->cmbRequest->setCurrentIndex(d->cmbRequest->findData(QStringLiteral("kawai-k1-patch")));
        ASSERT_EQ(d->edtParameters.size(), k1.parameters.size());
        const auto* rows = static_cast<QGridLayout*>(d->pnlRequestParameters->layout());
        for (std::size_t i = 0; i < k1.parameters.size(); ++i) {
            const auto row = static_cast<int>(i);
            const auto* label = qobject_cast<QLabel*>(rows->itemAtPosition(row, 0)->widget());
            const auto* range = qobject_cast<QLabel*>(rows->itemAtPosition(row, 2)->widget());
            ASSERT_TRUE(label && range);
            EXPECT_EQ(label->text().toStdString(), k1.parameters[i].meaning);
            EXPECT_EQ(rows->itemAtPosition(row, 1)->widget(), d->edtParameters[i]);
            EXPECT_EQ(range->text().toStdString(), sysex::ParameterRangeText(k1.parameters[i]));
        }

        QStyleOptionComboBox option;
        option.initFrom(d->cmbRequest);
        const int room = d->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, d->cmbRequest).width();
        for (int row = 0; row < d->cmbRequest->count(); ++row) {
            const QString entry = d->cmbRequest->itemText(row);
            EXPECT_LE(d->cmbRequest->fontMetrics().horizontalAdvance(entry), room) << entry.toStdString();
            EXPECT_LE(d->cmbRequest->fontMetrics().horizontalAdvance(entry), d->cmbRequest->view()->minimumWidth())
                << entry.toStdString();
        }

        // Long texts in every broken label, at a width that makes them break.
        d->edtParameters[2]->setText(QStringLiteral("800"));
        d->cmbInput->setCurrentIndex(0);
        QTest::mouseClick(d->btnIdentify, Qt::LeftButton);
        int broken = 0;
        for (QLabel* label : d->findChildren<QLabel*>()) {
            EXPECT_FALSE(label->wordWrap()) << "Qt's wrap breaks Japanese words: " << label->text().toStdString();
            auto* lines = dynamic_cast<ui::BrokenLabel*>(label);
            if (!lines || lines->Text().isEmpty()) continue;
            lines->SetBreakWidth(lines->fontMetrics().horizontalAdvance(QStringLiteral("入力ポートを選んで")));
            const QString source = lines->Text();
            const QString shown = lines->text();
            qsizetype at = 0;
            for (qsizetype i = 0; i < shown.size(); ++i) {
                if (at < source.size() && shown[i] == source[at]) {
                    ++at;
                    continue;
                }
                ASSERT_EQ(shown[i], u'\n') << shown.toStdString();
                ASSERT_GT(i, 0);
                EXPECT_TRUE(QStringLiteral(" 　、。").contains(shown[i - 1])) << "broken inside a word: " << shown.toStdString();
                ++broken;
            }
            EXPECT_EQ(at, source.size()) << shown.toStdString();
        }
        EXPECT_GE(broken, 3) << "the texts should have needed breaks";
        d->reject();
    });
}

// The request defaults to typed hex whatever line is selected; a loaded message may be chosen,
// but one too long to be a request goes only after the user says yes.
TEST_F(ReceiveDialog, ALongMessageIsNeverTheDefaultRequestAndAsksBeforeItGoes) {
    OpenWithASynthToAsk();
    w->open->answers = {dir.Write("two.syx", testsupport::Concat({{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, Bank()}))};
    w->form->SysexI1->trigger();
    w->form->SysEx->setCurrentRow(1);  // the bank was looked at last
    const struct {
        const char* what;
        int message;  // entry of 要求
        std::deque<bool> answers;
        bool sent;
    } cases[] = {
        {"short message, no question", 1, {}, true},
        {"long message, no", 2, {false}, false},
        {"long message, yes", 2, {true}, true},
    };
    settings::InPortSetting = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        log->clear();
        w->recorder.questions.clear();
        w->recorder.answers = c.answers;
        int step = 0;
        uitest::DriveModal<ui::TReceive>([&] { w->form->ReceiveDump->trigger(); }, [&](ui::TReceive* d) {
            if (step++ > 0) return d->reject();
            EXPECT_EQ(d->cmbRequest->currentIndex(), 0) << "typed hex first";
            d->chkRequest->setChecked(true);
            d->cmbRequestOutput->setCurrentIndex(1);
            d->cmbRequest->setCurrentIndex(c.message);
            QTest::mouseClick(d->btnStart, Qt::LeftButton);
            EXPECT_EQ(static_cast<bool>(input->receiver), c.sent) << "receiving";
        });
        EXPECT_EQ(w->recorder.questions.size(), static_cast<qsizetype>(c.answers.size()));
        const bool sent = std::any_of(log->begin(), log->end(), [](const std::string& line) { return line.starts_with("send 0: F0"); });
        EXPECT_EQ(sent, c.sent);
    }
}

// A capture lives only in memory until it is saved: exiting, opening a file and receiving again
// ask first, and do what the answer says; a store that came from a file goes without a word.
TEST_F(ReceiveDialog, AnUnsavedCaptureIsNeverGivenUpUnasked) {
    enum class Act { Exit, CloseBox, Open, Receive };
    enum : int { Save = 0, Discard = 1, Stay = 2 };
    const struct {
        const char* what;
        bool fromFile;  // the store was loaded, not received
        Act act;
        std::deque<int> chosen;
        bool goesAhead;
    } cases[] = {
        {"F10, stay", false, Act::Exit, {Stay}, false},
        {"F10, discard", false, Act::Exit, {Discard}, true},
        {"close box, stay", false, Act::CloseBox, {Stay}, false},
        {"close box, save", false, Act::CloseBox, {Save}, true},
        {"open, stay", false, Act::Open, {Stay}, false},
        {"open, save", false, Act::Open, {Save}, true},
        {"receive again, stay", false, Act::Receive, {Stay}, false},
        {"receive again, discard", false, Act::Receive, {Discard}, true},
        {"loaded from a file, F10", true, Act::Exit, {}, true},
    };
    const std::string other = dir.Write("other.syx", {0xF0, 0x05, 0xF7});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        w.reset();  // the old window's recorder goes before the new one's comes
        w = std::make_unique<uitest::FormUnderTest>();
        w->ShowAndActivate();
        sysex::ResetStoreForTests();
        if (c.fromFile) {
            w->open->answers = {dir.Write("bank.syx", {0xF0, 0x42, 0x10, 0xF7, 0xF0, 0x43, 0x20, 0x30, 0xF7})};
            w->form->SysexI1->trigger();
        } else {
            settings::InPortSetting = 1;
            settings::InPortNameSetting.clear();
            int step = 0;
            const GiveUp giveUp;
            uitest::DriveModal<ui::TReceive>([&] { w->form->ReceiveDump->trigger(); }, [&](ui::TReceive* d) {
                if (step == 0) {
                    // Shown and ready first; a generous bound keeps a fault from hanging.
                    if (giveUp.Now()) return d->reject();
                    if (!d->isVisible() || !d->btnStart->isEnabled()) return;
                    ++step;
                    d->edtIdle->setValue(0);  // stopped by hand below, whenever the test gets there
                    QTest::mouseClick(d->btnStart, Qt::LeftButton);
                    ASSERT_TRUE(input->receiver);
                    Feed({0xF0, 0x42, 0x10, 0xF7, 0xF0, 0x43, 0x20, 0x30, 0xF7});
                } else if (d->lblCount->text() == QStringLiteral("2 メッセージ  9 バイト") || giveUp.Now()) {
                    QTest::mouseClick(d->btnStop, Qt::LeftButton);
                }
            });
        }
        ASSERT_EQ(sysex::SysExCount, 2) << (w->recorder.failures + w->recorder.notices).join(" / ").toStdString();
        w->recorder.notices.clear();
        w->recorder.chosen = c.chosen;
        const std::string saved = (dir.Path() / (std::string(c.what) + ".syx")).string();
        w->saveSyx->answers = {saved};
        bool wentAhead = false;
        switch (c.act) {
            case Act::Exit:
                wentAhead = uitest::ExecAfter(w->form.get(), [&] { w->form->mnuExit->trigger(); }) == 0;
                break;
            case Act::CloseBox: wentAhead = w->form->close(); break;
            case Act::Open:
                w->open->answers = {other};
                w->form->SysexI1->trigger();
                wentAhead = sysex::SysExCount == 1;
                break;
            case Act::Receive:
                uitest::DriveModal<ui::TReceive>([&] { w->form->ReceiveDump->trigger(); }, [&](ui::TReceive* d) {
                    wentAhead = true;
                    d->reject();
                });
                break;
        }
        EXPECT_EQ(wentAhead, c.goesAhead);
        EXPECT_EQ(w->recorder.choices.size(), c.chosen.size());
        for (const QString& q : w->recorder.choices) {
            EXPECT_EQ(q, QStringLiteral("受信した 2 メッセージは保存されていません。保存しますか?"));
        }
        const bool savedFirst = !c.chosen.empty() && c.chosen.front() == Save;
        EXPECT_EQ(std::filesystem::exists(saved), savedFirst);
        if (savedFirst) {
            EXPECT_EQ(std::filesystem::file_size(saved), 9u);
        }
        if (!c.goesAhead) {
            EXPECT_EQ(sysex::SysExCount, 2) << "the capture is still there";
        }
    }
}

enum class Ending { Escape, Cancel, CloseBox, Stop };

struct OutcomeCase {
    const char* name;
    Ending ending;
    bool received;           // two messages came before the ending
    std::deque<bool> answers;  // to "discard?", each asked in turn
    QStringList notices;
};

class ReceiveOutcomes : public ReceiveDialog, public ::testing::WithParamInterface<OutcomeCase> {};

// Whatever ends the dialog, nothing received is thrown away unasked, and a reception that kept
// nothing leaves the loaded dump alone.
TEST_P(ReceiveOutcomes, NothingReceivedIsDiscardedWithoutTheUsersWord) {
    const OutcomeCase& c = GetParam();
    w->open->answers = {dir.Write("old.syx", {0xF0, 0x01, 0xF7})};
    w->form->SysexI1->trigger();
    w->recorder.answers = c.answers;
    settings::InPortSetting = 1;
    int step = 0;
    int endings = 0;
    const GiveUp giveUp;
    uitest::DriveModal<ui::TReceive>([&] { w->form->ReceiveDump->trigger(); }, [&](ui::TReceive* d) {
        if (step++ == 0) {
            // Only the test's steps end it: an idle stop a second after the last byte would race
            // them on a busy machine, and end the dialog before the question.
            d->edtIdle->setValue(0);
            QTest::mouseClick(d->btnStart, Qt::LeftButton);
            ASSERT_TRUE(input->receiver);
            if (c.received) Feed({0xF0, 0x42, 0x10, 0xF7, 0xF0, 0x43, 0x20, 0x30, 0xF7});
            return;
        }
        if (c.received && d->lblCount->text() != QStringLiteral("2 メッセージ  9 バイト") && !giveUp.Now()) return;
        ++endings;
        switch (c.ending) {
            case Ending::Escape: QTest::keyClick(d, Qt::Key_Escape); break;
            case Ending::Cancel: QTest::mouseClick(d->btnCancel, Qt::LeftButton); break;
            case Ending::CloseBox: d->close(); break;
            case Ending::Stop: QTest::mouseClick(d->btnStop, Qt::LeftButton); break;
        }
    });
    EXPECT_FALSE(input->receiver) << "the input is still open";
    const auto questions = static_cast<int>(c.answers.size());
    EXPECT_EQ(endings, std::max(questions, 1)) << "a no keeps the dialog open and receiving";
    EXPECT_EQ(w->recorder.questions.size(), questions);
    for (const QString& q : w->recorder.questions) {
        EXPECT_EQ(q, QStringLiteral("受信した 2 メッセージ (9 バイト) を破棄しますか?"));
    }
    EXPECT_EQ(w->recorder.notices, c.notices);
    ASSERT_EQ(sysex::SysExCount, 1);
    EXPECT_EQ(sysex::SysExData[0][1], 0x01);
    EXPECT_EQ(w->form->SysEx->count(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, ReceiveOutcomes,
    ::testing::Values(OutcomeCase{"EscapeNothing", Ending::Escape, false, {}, {}},
                      OutcomeCase{"CancelNothing", Ending::Cancel, false, {}, {}},
                      OutcomeCase{"CloseBoxNothing", Ending::CloseBox, false, {}, {}},
                      OutcomeCase{"StopNothing", Ending::Stop, false, {}, {QStringLiteral("メッセージを受信しませんでした")}},
                      OutcomeCase{"EscapeSomeNoThenYes", Ending::Escape, true, {false, true}, {}},
                      OutcomeCase{"CancelSomeNoThenYes", Ending::Cancel, true, {false, true}, {}},
                      OutcomeCase{"CloseBoxSomeYes", Ending::CloseBox, true, {true}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
