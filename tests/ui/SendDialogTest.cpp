// The send dialog's device number: off, the messages go as loaded; on, every message whose form
// has a device number goes with the chosen one, and a number one of them cannot hold stops the
// send before anything goes.

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>

#include "FakeOutputService.h"
#include "FormFixture.h"
#include "Wait.h"
#include "ui/Notice.h"
#include "ui/Send.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct DeviceIdCase {
    const char* what;
    bool on;
    int id;
    midi::testing::FakeLog sent;
    QStringList failures;
};

TEST(SendDialog, TheDeviceNumberIsRewrittenOnlyWhenAskedAndOnlyWhereItFits) {
    const std::vector<Bytes> dump{{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7},
                                  {0xF0, 0x10, 0x06, 0x04, 0x01, 0x05, 0xF7}};
    const std::vector<DeviceIdCase> cases{
        {"off", false, 0x11,
         {"send 0: F0 41 10 42 12 40 00 7F 00 41 F7", "send 0: F0 10 06 04 01 05 F7"}, {}},
        {"on", true, 0x11, {"send 0: F0 41 11 42 12 40 00 7F 00 41 F7", "send 0: F0 10 06 04 01 05 F7"}, {}},
        {"beyond Roland's 1FH", true, 0x20, {},
         {QStringLiteral("メッセージ 0001 の形式は機器 ID 20H を持てません (00H-1FH)")}},
    };
    for (const DeviceIdCase& c : cases) {
        uitest::Recorder recorder;
        ui::SetMessageDisplay(&recorder);
        auto log = std::make_shared<midi::testing::FakeLog>();
        midi::testing::FakePort port(0, log);
        ui::SendSetup setup;
        setup.port = &port;
        setup.portName = "Synth";
        for (const Bytes& m : dump) setup.messageSizes.push_back(m.size());
        setup.message = [&](int k) { return dump[static_cast<std::size_t>(k)]; };
        setup.pace = {0, 100};
        ui::TSend dialog(nullptr, 1.0, setup);
        EXPECT_FALSE(dialog.chkDeviceId->isChecked()) << "off by default";
        dialog.chkDeviceId->setChecked(c.on);
        dialog.edtDeviceId->setValue(c.id);
        QTest::mouseClick(dialog.btnStart, Qt::LeftButton);
        // The send runs on its own thread; the bound only keeps a fault from hanging.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.Sending(); },
                                    static_cast<int>(std::chrono::milliseconds(testsupport::Patience).count())))
            << c.what;
        EXPECT_EQ(*log, c.sent) << c.what;
        EXPECT_EQ(recorder.failures, c.failures) << c.what;
        EXPECT_EQ(dump[0][2], 0x10) << "the loaded message itself stays";
        ui::SetMessageDisplay(nullptr);
    }
}

// Without an open port the dialog names "no port" as the main window's port list does.
TEST(SendDialog, WithoutAPortSaysNoneAsThePortListDoes) {
    const std::vector<Bytes> dump{{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}};
    ui::SendSetup setup;
    for (const Bytes& m : dump) setup.messageSizes.push_back(m.size());
    setup.message = [&](int k) { return dump[static_cast<std::size_t>(k)]; };
    ui::TSend dialog(nullptr, 1.0, setup);
    EXPECT_TRUE(dialog.lblPort->text().startsWith(QStringLiteral("(None) "))) << dialog.lblPort->text().toStdString();
}

}  // namespace
