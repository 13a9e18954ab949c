// The WinMM backend. Under Wine there is no MIDI device, so the real API is tested for what it
// can show (no devices, a refused open, the port logic on top of it), and a stand-in driver
// behind WinMmApi shows what a device would see: the calls, their arguments, the bytes, and
// that no block is released while the driver may still read it.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FakeWinMm.h"
#include "Messages.h"
#include "WinFiles.h"
#include "common/Failure.h"
#include "midi/Port.h"
#include "midi/Transmission.h"
#include "midi/winmm/WinMmOutput.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

using wintest::FakeDriver;
using wintest::Hex;

using Log = std::vector<std::string>;

class WinMm : public ::testing::Test {
protected:
    std::unique_ptr<midi::OutputService> Service(midi::WinMmTimings timings = {}) {
        return midi::MakeWinMmOutputService(driver, timings);
    }
    std::unique_ptr<midi::OutputPort> OpenFirst(midi::OutputService& service) {
        service.CountDevices();
        auto result = service.Open(0);
        EXPECT_EQ(result.code, 0);
        driver->TakeLog();
        return std::move(result.port);
    }

    std::shared_ptr<FakeDriver> driver = std::make_shared<FakeDriver>();
    const std::string headerSize = std::to_string(sizeof(MIDIHDR));
};

TEST_F(WinMm, ListsDevicesByTheNameInTheirCapabilities) {
    driver->devices = {{"Synth A"}, {std::string(32, 'X')}, {"Broken", MMSYSERR_NODRIVER}};
    auto service = Service();
    ASSERT_EQ(service->CountDevices(), 3u);
    EXPECT_EQ(service->DeviceName(0), "Synth A");
    EXPECT_EQ(service->DeviceName(1), std::string(32, 'X'));  // a full field without a NUL
    try {
        service->DeviceName(2);
        FAIL() << "no failure";
    } catch (const kelvane::Failure& failure) {
        EXPECT_EQ(std::string(failure.what()), "WinMM の midiOutGetDevCapsA が失敗しました (error 6)");
    }
    EXPECT_EQ(driver->TakeLog(), (Log{"midiOutGetNumDevs", "midiOutGetDevCapsA 0 52", "midiOutGetDevCapsA 1 52",
                                      "midiOutGetDevCapsA 2 52"}));
}

TEST_F(WinMm, OpensWithoutCallbackAndPassesARefusalOn) {
    driver->devices = {{"Synth A"}, {"Busy", MMSYSERR_NOERROR, MMSYSERR_ALLOCATED}};
    auto service = Service();
    service->CountDevices();
    const auto busy = service->Open(1);
    EXPECT_EQ(busy.code, MMSYSERR_ALLOCATED);
    EXPECT_EQ(busy.error, "WinMM の midiOutOpen が失敗しました (error 4)");
    EXPECT_EQ(busy.port, nullptr);
    const auto missing = service->Open(7);  // beyond the listing: WinMM is not asked
    EXPECT_EQ(missing.code, MMSYSERR_BADDEVICEID);
    EXPECT_EQ(missing.error, "WinMM の出力デバイス 7 はありません");
    EXPECT_EQ(missing.port, nullptr);
    auto open = service->Open(0);
    EXPECT_EQ(open.code, 0);
    EXPECT_NE(open.port, nullptr);
    open.port.reset();
    // The port's thread closes the device once it has ended.
    EXPECT_EQ(driver->WaitForLog(4),
              (Log{"midiOutGetNumDevs", "midiOutOpen 1 0 0 0", "midiOutOpen 0 0 0 0", "midiOutClose"}));
}

TEST_F(WinMm, ReopeningAOneClientDeviceWaitsForItsOldPortToClose) {
    driver->devices = {{"Hardware", MMSYSERR_NOERROR, MMSYSERR_NOERROR, true}};
    driver->finishAtOnce = false;
    auto service = Service();
    auto old = OpenFirst(*service);
    const Bytes gmOn{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    old->Send(gmOn);
    ASSERT_TRUE(driver->WaitForPending(1));
    old.reset();  // the old port still holds the device until its message is out
    std::thread device([&] {
        std::this_thread::sleep_for(200ms);
        driver->FinishOne();
    });
    auto reopened = service->Open(0);
    device.join();
    EXPECT_EQ(reopened.code, 0) << reopened.error;
    EXPECT_NE(reopened.port, nullptr);
}

TEST_F(WinMm, SendsEachMessageAsOneLongMessageAndReleasesItWhenDone) {
    auto service = Service();
    driver->devices = {{"Synth A"}};
    auto port = OpenFirst(*service);
    const Bytes gmOn{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    const Bytes shortest{0xF0, 0xF7};
    port->Send(gmOn);
    port->Send(shortest);
    ASSERT_TRUE(port->WaitUntilSent(5s));
    EXPECT_EQ(port->Status().sent, 2u);
    EXPECT_EQ(port->Status().failed, 0u);
    const Log one = {"midiOutPrepareHeader 6 flags 0 size " + headerSize,
                     "midiOutLongMsg size " + headerSize,
                     "sent: F0 7E 7F 09 01 F7",
                     "midiOutUnprepareHeader size " + headerSize};
    const Log two = {"midiOutPrepareHeader 2 flags 0 size " + headerSize,
                     "midiOutLongMsg size " + headerSize,
                     "sent: F0 F7",
                     "midiOutUnprepareHeader size " + headerSize};
    Log expected = one;
    expected.insert(expected.end(), two.begin(), two.end());
    EXPECT_EQ(driver->TakeLog(), expected);
}

TEST_F(WinMm, SendReturnsWhileTheDriverStillHoldsTheBlock) {
    driver->devices = {{"Synth A"}};
    driver->finishAtOnce = false;
    auto service = Service();
    auto port = OpenFirst(*service);
    port->Send(testsupport::FilledMessage(65536, 0x11));
    port->Send(Bytes{0xF0, 0x43, 0xF7});
    ASSERT_TRUE(driver->WaitForPending(1));
    EXPECT_FALSE(port->WaitUntilSent(50ms));
    // The block is still whole and nobody has unprepared it; the next message waits its turn.
    EXPECT_EQ(driver->PendingBytes().substr(0, 8), "F0 11 11");
    EXPECT_EQ(driver->PendingBytes().size(), 65536u * 3 - 1);
    EXPECT_EQ(driver->TakeLog(), (Log{"midiOutPrepareHeader 65536 flags 0 size " + headerSize,
                                      "midiOutLongMsg size " + headerSize}));
    driver->FinishOne();
    ASSERT_TRUE(driver->WaitForPending(1));
    EXPECT_EQ(driver->PendingBytes(), "F0 43 F7");
    driver->FinishOne();
    ASSERT_TRUE(port->WaitUntilSent(5s));
    const Log log = driver->TakeLog();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[1], "midiOutUnprepareHeader size " + headerSize);
    EXPECT_EQ(log[4], "sent: F0 43 F7");
    EXPECT_EQ(log[5], "midiOutUnprepareHeader size " + headerSize);
    EXPECT_EQ(port->Status().sent, 2u);
}

TEST_F(WinMm, RefusedMessageCountsAsFailedAndTheNextOneGoesOut) {
    driver->devices = {{"Synth A"}};
    auto service = Service();
    auto port = OpenFirst(*service);
    driver->longMsgResult = MIDIERR_NOTREADY;
    port->Send(Bytes{0xF0, 0x01, 0xF7});
    ASSERT_TRUE(port->WaitUntilSent(5s));
    driver->longMsgResult = MMSYSERR_NOERROR;
    port->Send(Bytes{0xF0, 0x02, 0xF7});
    ASSERT_TRUE(port->WaitUntilSent(5s));
    const auto status = port->Status();
    EXPECT_EQ(status.failed, 1u);
    EXPECT_EQ(status.sent, 1u);
    EXPECT_EQ(status.lastError, "WinMM の midiOutLongMsg が失敗しました (error 67)");
    const Log log = driver->TakeLog();
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log[2], "midiOutUnprepareHeader size " + headerSize);  // the refused block
    EXPECT_EQ(log[5], "sent: F0 02 F7");
}

TEST_F(WinMm, DriverThatNeverFinishesIsResetAndTheMessageFails) {
    driver->devices = {{"Synth A"}};
    driver->finishAtOnce = false;
    auto service = Service({.doneMargin = 100ms, .resetGrace = 1000ms});
    auto port = OpenFirst(*service);
    port->Send(Bytes{0xF0, 0x05, 0xF7});
    ASSERT_TRUE(port->WaitUntilSent(5s));
    EXPECT_EQ(port->Status().failed, 1u);
    EXPECT_EQ(port->Status().lastError, "WinMM の midiOutLongMsg が失敗しました (時間内に送信が終わらないため中断しました)");
    EXPECT_EQ(driver->TakeLog(), (Log{"midiOutPrepareHeader 3 flags 0 size " + headerSize,
                                      "midiOutLongMsg size " + headerSize, "midiOutReset",
                                      "returned: F0 05 F7", "midiOutUnprepareHeader size " + headerSize}));
}

TEST_F(WinMm, BlockTheDriverKeepsIsNeverReleased) {
    driver->devices = {{"Synth A"}};
    driver->finishAtOnce = false;
    driver->ignoresReset = true;
    auto service = Service({.doneMargin = 50ms, .resetGrace = 50ms});
    auto port = OpenFirst(*service);
    port->Send(Bytes{0xF0, 0x06, 0xF7});
    ASSERT_TRUE(port->WaitUntilSent(5s));
    EXPECT_EQ(port->Status().lastError, "WinMM の midiOutReset が失敗しました (デバイスが送信バッファを返しません)");
    port.reset();
    // Closing finds the device still playing, so it is reset and closed again.
    EXPECT_EQ(driver->WaitForLog(6), (Log{"midiOutPrepareHeader 3 flags 0 size " + headerSize,
                                         "midiOutLongMsg size " + headerSize, "midiOutReset", "midiOutClose",
                                         "midiOutReset", "midiOutClose"}));
    // Once the port's thread has ended, the driver can still read the block it was given.
    ASSERT_TRUE(midi::WaitForClosedPorts(5s));
    EXPECT_EQ(driver->PendingBytes(), "F0 06 F7");
    EXPECT_EQ(driver->TakeLog(), Log{});
}

// The transmission engine on a WinMM port: each chunk is one long message of at most 156 bytes,
// in order, and a cancel inside a message ends it with F7.
TEST_F(WinMm, TransmissionSendsChunksInOrderAndACancelClosesTheMessage) {
    driver->devices = {{"Synth A"}};
    auto service = Service();
    auto port = OpenFirst(*service);
    Bytes read;
    std::vector<std::size_t> blocks;
    auto collect = [&](const Log& log) {
        for (const std::string& line : log) {
            if (line.rfind("sent: ", 0) != 0) continue;
            blocks.push_back((line.size() - 4) / 3);
            for (std::size_t at = 6; at < line.size(); at += 3) read.push_back(std::stoi(line.substr(at, 2), nullptr, 16));
        }
    };
    // 20,000 bytes take 6.4 s at the cable's rate: the cancel comes once two chunks are out.
    const Bytes longOne = testsupport::PatternMessage(20000, 2);
    midi::Transmission cut({longOne, Bytes{0xF0, 0x01, 0xF7}}, {0, 100});
    midi::TransmissionOutcome stopped;
    std::thread sending([&] { stopped = cut.Run(*port); });
    for (int i = 0; i < 100 && blocks.size() < 2; ++i) collect(driver->WaitForLog(1));
    cut.Cancel();
    sending.join();
    collect(driver->TakeLog());
    EXPECT_TRUE(stopped.cancelled);
    EXPECT_EQ(stopped.messagesWhole, 0u);
    EXPECT_EQ(stopped.error, "");
    ASSERT_GE(blocks.size(), 3u);
    EXPECT_EQ(blocks.front(), 156u);
    EXPECT_EQ(blocks.back(), 1u);
    EXPECT_EQ(read.back(), 0xF7);
    EXPECT_EQ(stopped.bytes, read.size());
    EXPECT_TRUE(std::equal(read.begin(), read.end() - 1, longOne.begin()));
}

// The real WinMM of this system. Wine with its ALSA driver switched off has no MIDI device.
TEST(WinMmSystem, WithoutDevicesNothingIsListedAndOpensFail) {
    if (!wintest::RunningUnderWine()) GTEST_SKIP() << "a real Windows may have MIDI devices";
    auto service = midi::MakeWinMmOutputService();
    EXPECT_EQ(service->CountDevices(), 0u);
    const auto result = service->Open(0);
    EXPECT_EQ(result.code, MMSYSERR_BADDEVICEID);
    EXPECT_EQ(result.error, "WinMM の出力デバイス 0 はありません");
    EXPECT_EQ(result.port, nullptr);
    EXPECT_THROW(service->DeviceName(0), kelvane::Failure);
    // The service asks WinMM only about listed devices; WinMM itself refuses the same.
    HMIDIOUT handle = nullptr;
    EXPECT_EQ(midi::SystemWinMmApi()->Open(&handle, 0, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
}

TEST(WinMmSystem, PortLogicWithoutDevicesSendsNothingAndDoesNotCrash) {
    if (!wintest::RunningUnderWine()) GTEST_SKIP() << "a real Windows may have MIDI devices";
    midi::ResetPortStateForTests();
    EXPECT_EQ(midi::ReadPortEntries(), std::vector<std::string>{"(None)"});
    EXPECT_EQ(midi::StartPort(0), 0);
    // "MIDI OUT" ticked with no port open: the message goes nowhere.
    midi::SendOnOpenPort(midi::GMSystemOn.data(), 5);
    EXPECT_EQ(midi::MidiOutHandle, nullptr);
    EXPECT_NE(midi::ChangePort(1), 0);
    EXPECT_NE(midi::StartPort(3), 0);
    midi::SendOnOpenPort(midi::GMSystemOn.data(), 5);
    midi::ResetPortStateForTests();
}

}  // namespace
