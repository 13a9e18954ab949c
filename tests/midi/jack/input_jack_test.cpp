// Real receiving through a JACK server (the `jack` fixture): a test client sends into Kelvane's
// input, and what lands in the store must be exactly what was sent.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "JackListed.h"
#include "JackProcesses.h"
#include "JackSender.h"
#include "Messages.h"
#include "midi/Input.h"
#include "midi/OwnClients.h"
#include "midi/jack/JackInput.h"
#include "midi/jack/JackOutput.h"
#include "sysex/Reception.h"
#include "sysex/Store.h"

namespace midi {
namespace {

using kelvane::testing::JackSender;
using kelvane::testing::WaitUntil;
using testsupport::Bytes;
using testsupport::PatternMessage;

constexpr auto Patience = std::chrono::minutes(2);

std::string UniqueName(const char* stem) {
    static std::atomic<int> counter{0};
    return std::string(stem) + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

std::size_t SourceOf(InputService& service, const JackSender& sender) {
    return kelvane::testing::ListedDevice(service, sender.PortName());
}

// The messages as a wire carries them: a timing clock every 97 bytes, active sensing between
// messages, a channel message now and then outside them.
Bytes OnTheWire(const std::vector<Bytes>& messages) {
    Bytes wire;
    for (std::size_t k = 0; k < messages.size(); ++k) {
        for (std::size_t i = 0; i < messages[k].size(); ++i) {
            if (i % 97 == 96) wire.push_back(0xF8);
            wire.push_back(messages[k][i]);
        }
        wire.push_back(0xFE);
        if (k % 10 == 3) wire.insert(wire.end(), {0x90, 0x3C, 0x40});
    }
    return wire;
}

class JackInputTest : public ::testing::Test {
protected:
    void SetUp() override { sysex::ResetStoreForTests(); }

    // Sends the messages through JACK into an open input and stops once all are complete.
    sysex::ScanResult Receive(const std::vector<Bytes>& messages) {
        JackSender sender(UniqueName("kelvane-in-test"));
        auto service = MakeJackInputService();
        sysex::Reception reception;
        InputOpenResult opened = service->Open(SourceOf(*service, sender), ReceiverFor(reception));
        EXPECT_EQ(opened.code, 0) << opened.error;
        if (!opened.port) return {};
        sender.Send(OnTheWire(messages));
        const auto expected = static_cast<std::int32_t>(messages.size());
        EXPECT_TRUE(WaitUntil([&] { return reception.Now().messages >= expected; }, Patience))
            << reception.Now().messages << " of " << expected << " messages";
        opened.port.reset();
        const sysex::ReceptionSummary summary = reception.MoveIntoStore();
        EXPECT_FALSE(summary.LostAnything());
        return summary.scan;
    }

    static void ExpectStored(const std::vector<Bytes>& messages) {
        ASSERT_EQ(sysex::SysExCount, static_cast<int>(messages.size()));
        for (std::size_t k = 0; k < messages.size(); ++k) {
            const Bytes stored(sysex::SysExData[k], sysex::SysExData[k] + sysex::SysExLen[k] + 1);
            EXPECT_EQ(stored, messages[k]) << "message " << k << " of " << messages[k].size() << " bytes";
        }
    }
};

TEST_F(JackInputTest, LongestMessageArrivesByteExact) {
    const std::vector<Bytes> messages{PatternMessage(6, 1), PatternMessage(65536, 2), PatternMessage(7, 3)};
    const auto result = Receive(messages);
    EXPECT_FALSE(result.DroppedAnything());
    ExpectStored(messages);
}

TEST_F(JackInputTest, HundredMessagesBackToBackArriveByteExact) {
    std::vector<Bytes> messages;
    for (std::size_t k = 0; k < 100; ++k) {
        messages.push_back(PatternMessage(6 + (k * k * 131) % 9000, static_cast<std::uint8_t>(k)));
    }
    messages[50] = PatternMessage(65536, 50);
    const auto result = Receive(messages);
    EXPECT_FALSE(result.DroppedAnything());
    ExpectStored(messages);
}

TEST_F(JackInputTest, SourceGoneBeforeOpenGivesCodeNotThrow) {
    auto service = MakeJackInputService();
    std::size_t device = 0;
    {
        JackSender sender(UniqueName("kelvane-in-gone"));
        device = SourceOf(*service, sender);
    }
    const InputOpenResult opened = service->Open(device, [](std::span<const std::uint8_t>) {});
    EXPECT_NE(opened.code, 0);
    EXPECT_FALSE(opened.port);
    EXPECT_NE(opened.error.find("JACK"), std::string::npos) << opened.error;
}

// A request sent into our own input would come back as the "received" dump.
TEST_F(JackInputTest, OurOwnPortsAreNeverOffered) {
    JackSender sender(UniqueName("kelvane-in-own"));
    auto inputs = MakeJackInputService();
    InputOpenResult opened = inputs->Open(SourceOf(*inputs, sender), [](std::span<const std::uint8_t>) {});
    ASSERT_EQ(opened.code, 0) << opened.error;
    auto outputs = MakeJackOutputService();
    const std::size_t count = outputs->CountDevices();
    for (std::size_t device = 0; device < count; ++device) {
        // Another process's Kelvane (a test running beside this one) may be listed; ours never.
        EXPECT_FALSE(IsOwnJackPort(outputs->DeviceName(device))) << outputs->DeviceName(device);
    }
}

// The contract every input keeps: what it could not deliver is reported at its place in the
// stream, so that no message is stored with a gap spliced shut, and a source that goes away
// ends the reception.
TEST_F(JackInputTest, LossIsReportedWhenTheRingOverflows) {
    JackSender sender(UniqueName("kelvane-in-flood"));
    auto service = MakeJackInputService(4096);
    sysex::Reception reception;
    std::atomic<bool> release{false};
    ByteReceiver slow(
        [&](std::span<const std::uint8_t> bytes) {
            // A collector that cannot keep up: the ring behind it fills.
            while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            reception.Feed(bytes);
        },
        [&](sysex::LossCause cause, std::uint32_t events) { reception.Lose(cause, events); });
    InputOpenResult opened = service->Open(SourceOf(*service, sender), std::move(slow));
    ASSERT_EQ(opened.code, 0) << opened.error;
    std::vector<Bytes> messages;
    for (std::size_t k = 0; k < 60; ++k) messages.push_back(PatternMessage(1500, static_cast<std::uint8_t>(k)));
    sender.Send(OnTheWire(messages));
    EXPECT_TRUE(WaitUntil([&] { return sender.AllSent(); }, Patience));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the last periods reach us
    release = true;
    EXPECT_TRUE(WaitUntil([&] { return reception.Now().lost; }, Patience));
    opened.port.reset();
    const sysex::ReceptionSummary summary = reception.MoveIntoStore();
    EXPECT_GE(summary.losses.Times(sysex::LossCause::Overflow), 1u);
    EXPECT_GE(summary.losses.Events(sysex::LossCause::Overflow), 1u);
    EXPECT_TRUE(summary.LostAnything());
    EXPECT_LT(summary.scan.stored, 60);
    // Whatever was kept is one of the messages sent, whole: never two halves joined.
    for (int k = 0; k < sysex::SysExCount; ++k) {
        const Bytes stored(sysex::SysExData[k], sysex::SysExData[k] + sysex::SysExLen[k] + 1);
        EXPECT_NE(std::find(messages.begin(), messages.end(), stored), messages.end()) << "message " << k;
    }
}

TEST_F(JackInputTest, LossIsReportedWhenTheSourceGoes) {
    auto service = MakeJackInputService();
    sysex::Reception reception;
    auto sender = std::make_unique<JackSender>(UniqueName("kelvane-in-leaves"));
    InputOpenResult opened = service->Open(SourceOf(*service, *sender), ReceiverFor(reception));
    ASSERT_EQ(opened.code, 0) << opened.error;
    sender->Send(PatternMessage(300, 1));
    EXPECT_TRUE(WaitUntil([&] { return reception.Now().messages == 1; }, Patience));
    sender->Send({0xF0, 0x01, 0x02});  // the sender goes away in the middle of this one
    EXPECT_TRUE(WaitUntil([&] { return sender->AllSent(); }, Patience));
    sender.reset();
    EXPECT_TRUE(WaitUntil([&] { return reception.Now().ended; }, Patience));
    EXPECT_TRUE(sysex::ReceptionDone(reception.Now(), sysex::Reception::Clock::now(), {}, 0));
    opened.port.reset();
    const sysex::ReceptionSummary summary = reception.MoveIntoStore();
    EXPECT_EQ(summary.losses.Times(sysex::LossCause::SourceGone), 1u);
    EXPECT_EQ(summary.scan.stored, 1);
    EXPECT_EQ(summary.scan.droppedCutOff, 1);
}

}  // namespace
}  // namespace midi
