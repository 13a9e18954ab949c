// The platform output service against the kernel's own sequencer: snd-virmidi turns what
// reaches its sequencer port into bytes on rawmidi device hw:0,0, which RawMidiReader reads.
// These run only inside the guest that scripts/test-alsa-vm boots.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Bytes.h"
#include "RawMidiReader.h"
#include "SeqSink.h"
#include "midi/OutputService.h"

namespace kelvane::vm {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// aconnect -o shows the virmidi client as 'Virtual Raw MIDI 0-0' and its port as 'VirMIDI 0-0';
// devices are named by their port.
const std::string kVirmidiPort = "VirMIDI 0-0";

// Long enough for 64 KiB under emulation many times over; only a fault waits this long.
constexpr auto kArrival = 15s;
// Quiet time after the last byte before the test believes nothing more is coming.
constexpr auto kQuiet = 300ms;

std::string UpToNul(const std::string& name) { return name.substr(0, name.find('\0')); }

std::vector<std::string> DeviceNames(midi::OutputService& service) {
    std::vector<std::string> names;
    const std::size_t count = service.CountDevices();
    for (std::size_t device = 0; device < count; ++device) {
        names.push_back(UpToNul(service.DeviceName(device)));
    }
    return names;
}

std::optional<std::size_t> FindDevice(midi::OutputService& service, const std::string& name) {
    const auto names = DeviceNames(service);
    for (std::size_t device = 0; device < names.size(); ++device) {
        if (names[device] == name) return device;
    }
    return std::nullopt;
}

double Ms(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

class VirmidiTest : public testing::Test {
protected:
    void SetUp() override {
        reader_ = std::make_unique<RawMidiReader>("hw:0,0");
        service_ = midi::MakePlatformOutputService();
        const auto device = FindDevice(*service_, kVirmidiPort);
        ASSERT_TRUE(device.has_value()) << "no device named " << kVirmidiPort;
        virmidi_ = *device;
    }

    void TearDown() override {
        if (reader_) {
            EXPECT_EQ(reader_->Overruns(), 0u) << "the reader lost bytes: not the backend's fault";
        }
    }

    std::unique_ptr<midi::OutputPort> OpenVirmidi() {
        midi::OpenResult opened = service_->Open(virmidi_);
        EXPECT_EQ(opened.code, 0) << opened.error;
        EXPECT_EQ(opened.error, "");
        return std::move(opened.port);
    }

    // Everything that arrives, once `expected` bytes are in and the line has gone quiet.
    std::vector<std::uint8_t> Arrived(std::size_t expected) {
        reader_->WaitFor(expected, kArrival);
        return reader_->WaitQuiet(kQuiet);
    }

    std::unique_ptr<RawMidiReader> reader_;
    std::unique_ptr<midi::OutputService> service_;
    std::size_t virmidi_ = 0;
};

TEST_F(VirmidiTest, MessagesOfEverySizeArriveByteExact) {
    auto port = OpenVirmidi();
    ASSERT_NE(port, nullptr);
    std::vector<std::uint8_t> expected;
    // 16,356 is one byte past what alsa-lib's default output buffer takes in one event.
    for (const std::size_t size : {6u, 1000u, 16356u, 20000u, 65536u}) {
        SCOPED_TRACE("message of " + std::to_string(size) + " bytes");
        const auto message = MakeMessage(size, static_cast<unsigned>(size));
        port->Send(message);
        Append(expected, message);
        EXPECT_TRUE(SameBytes(expected, Arrived(expected.size())));
    }
    ASSERT_TRUE(port->WaitUntilSent(kArrival));
    const midi::PortStatus status = port->Status();
    EXPECT_EQ(status.handedOver, 5u);
    EXPECT_EQ(status.sent, 5u);
    EXPECT_EQ(status.failed, 0u);
    EXPECT_EQ(status.lastError, "");
}

TEST_F(VirmidiTest, HundredMessagesBackToBackArriveWholeAndInOrder) {
    auto port = OpenVirmidi();
    ASSERT_NE(port, nullptr);
    std::vector<std::uint8_t> expected;
    for (unsigned i = 0; i < 100; ++i) {
        // Sizes on both sides of the backend's event size, so messages end mid-event.
        const auto message = MakeMessage(6 + (i * 997) % 3000, i);
        port->Send(message);
        Append(expected, message);
    }
    EXPECT_TRUE(SameBytes(expected, Arrived(expected.size())));
    ASSERT_TRUE(port->WaitUntilSent(kArrival));
    EXPECT_EQ(port->Status().sent, 100u);
    EXPECT_EQ(port->Status().failed, 0u);
}

// Closing only tells the port's thread to finish: the message going out at that moment and
// every one queued behind it still arrive whole.
TEST_F(VirmidiTest, ClosingWhileMessagesGoOutNeverCutsThem) {
    auto port = OpenVirmidi();
    ASSERT_NE(port, nullptr);
    std::vector<std::vector<std::uint8_t>> messages;
    std::vector<std::uint8_t> expected;
    for (unsigned i = 0; i < 10; ++i) {
        messages.push_back(MakeMessage(65536, 20 + i));
        Append(expected, messages.back());
    }
    for (const auto& message : messages) port->Send(message);
    port.reset();
    EXPECT_TRUE(SameBytes(expected, Arrived(expected.size())));
}

// A client that never reads takes a few KiB and then refuses every event, as a stuck
// synthesizer would, and the backend's thread keeps trying for seconds. A hand-over or a close
// that waited for the device would take that long.
TEST(AlsaStalledDevice, HandOverAndClosingReturnAtOnceWhileTheDeviceTakesNothing) {
    SeqSink sink("Kelvane VM Stalled", "Stalled Port");
    auto service = midi::MakePlatformOutputService();
    const auto device = FindDevice(*service, "Stalled Port");
    ASSERT_TRUE(device.has_value());
    midi::OpenResult opened = service->Open(*device);
    ASSERT_EQ(opened.code, 0) << opened.error;
    std::vector<std::vector<std::uint8_t>> messages;
    for (unsigned i = 0; i < 3; ++i) messages.push_back(MakeMessage(65536, 80 + i));

    Clock::duration longest{};
    for (const auto& message : messages) {
        const auto before = Clock::now();
        opened.port->Send(message);
        longest = std::max(longest, Clock::now() - before);
    }
    const midi::PortStatus status = opened.port->Status();
    EXPECT_EQ(status.handedOver, 3u);
    EXPECT_EQ(status.sent, 0u);
    const auto closingStart = Clock::now();
    opened.port.reset();
    const auto closing = Clock::now() - closingStart;
    std::printf("GUEST stalled device: longest 64 KiB hand-over %.3f ms, closing %.3f ms\n",
                Ms(longest), Ms(closing));
    EXPECT_LT(Ms(longest), 1000.0);
    EXPECT_LT(Ms(closing), 1000.0);
    sink.Close();  // lets the port's thread give up on the rest at once
}

TEST(AlsaGoneDevice, ADeviceThatGoesAwayAfterOpeningFailsVisiblyWithoutHanging) {
    SeqSink sink("Kelvane VM Leaving", "Leaving Port");
    auto service = midi::MakePlatformOutputService();
    const auto device = FindDevice(*service, "Leaving Port");
    ASSERT_TRUE(device.has_value());
    midi::OpenResult opened = service->Open(*device);
    ASSERT_EQ(opened.code, 0) << opened.error;

    sink.Close();
    const auto before = Clock::now();
    opened.port->Send(MakeMessage(1000, 1));
    EXPECT_TRUE(opened.port->WaitUntilSent(kArrival));
    const midi::PortStatus status = opened.port->Status();
    EXPECT_EQ(status.handedOver, 1u);
    EXPECT_EQ(status.sent, 0u);
    EXPECT_EQ(status.failed, 1u);
    EXPECT_NE(status.lastError, "");
    opened.port.reset();
    EXPECT_LT(Ms(Clock::now() - before), 5000.0);
}

}  // namespace
}  // namespace kelvane::vm
