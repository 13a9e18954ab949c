// The platform output service against the kernel's own sequencer: snd-virmidi turns what
// reaches its sequencer port into bytes on rawmidi device hw:0,0, which RawMidiReader reads.
// These run only inside the guest that scripts/test-alsa-vm boots.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Bytes.h"
#include "Messages.h"
#include "RawMidiReader.h"
#include "SeqSink.h"
#include "midi/OutputService.h"

namespace kelvane::vm {
namespace {

using testsupport::Append;
using testsupport::PatternMessage;
using namespace std::chrono_literals;

// aconnect -o shows the virmidi client as 'Virtual Raw MIDI 0-0' and its port as 'VirMIDI 0-0';
// devices are named by their port.
const std::string kVirmidiPort = "VirMIDI 0-0";

// virmidi is paced like a cable (3,125 bytes a second): 64 KiB take 21 s. Only a fault waits
// this long.
constexpr auto kArrival = 180s;  // an upper bound only: a busy host slows the guest several-fold

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

    // Whether exactly `expected` has arrived since the last call, and nothing more: an end
    // marker sent after it arrives last, through `port` or, once that is closed, through a port
    // opened afterwards, which waits for the earlier port of the device.
    testing::AssertionResult ArrivedExactly(const std::vector<std::uint8_t>& expected,
                                            midi::OutputPort* port = nullptr) {
        std::unique_ptr<midi::OutputPort> own;
        if (port == nullptr) {
            own = OpenVirmidi();
            port = own.get();
        }
        if (port == nullptr) return testing::AssertionFailure() << "no port for the end marker";
        const std::vector<std::uint8_t> marker = testsupport::NewEndMarker();
        port->Send(marker);
        const auto before = reader_->BytesBefore(marker, kArrival);
        if (!before || before->size() < seen_) return testing::AssertionFailure() << "the end marker did not arrive";
        const std::vector<std::uint8_t> since(before->begin() + static_cast<std::ptrdiff_t>(seen_), before->end());
        seen_ = before->size() + marker.size();
        return SameBytes(expected, since);
    }

    std::unique_ptr<RawMidiReader> reader_;
    std::unique_ptr<midi::OutputService> service_;
    std::size_t virmidi_ = 0;
    std::size_t seen_ = 0;  // bytes received up to the last end marker
};

TEST_F(VirmidiTest, MessagesOfEverySizeArriveByteExact) {
    auto port = OpenVirmidi();
    ASSERT_NE(port, nullptr);
    // 16,356 is one byte past what alsa-lib's default output buffer takes in one event.
    for (const std::size_t size : {6u, 1000u, 16356u, 20000u, 65536u}) {
        SCOPED_TRACE("message of " + std::to_string(size) + " bytes");
        const auto message = PatternMessage(size, static_cast<unsigned>(size));
        port->Send(message);
        EXPECT_TRUE(ArrivedExactly(message, port.get()));
    }
    ASSERT_TRUE(port->WaitUntilSent(kArrival));
    const midi::PortStatus status = port->Status();
    EXPECT_EQ(status.handedOver, 10u);  // five messages, each followed by an end marker
    EXPECT_EQ(status.sent, 10u);
    EXPECT_EQ(status.failed, 0u);
    EXPECT_EQ(status.lastError, "");
}

TEST_F(VirmidiTest, HundredMessagesBackToBackArriveWholeAndInOrder) {
    auto port = OpenVirmidi();
    ASSERT_NE(port, nullptr);
    std::vector<std::uint8_t> expected;
    for (unsigned i = 0; i < 100; ++i) {
        // Sizes on both sides of the backend's event size, so messages end mid-event.
        const auto message = PatternMessage(6 + (i * 97) % 600, i);
        port->Send(message);
        Append(expected, message);
    }
    EXPECT_TRUE(ArrivedExactly(expected, port.get()));
    ASSERT_TRUE(port->WaitUntilSent(kArrival));
    EXPECT_EQ(port->Status().sent, 101u);  // and the end marker
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
        messages.push_back(PatternMessage(2000, 20 + i));
        Append(expected, messages.back());
    }
    for (const auto& message : messages) port->Send(message);
    port.reset();
    EXPECT_TRUE(ArrivedExactly(expected));
}

// snd-virmidi stands for a raw MIDI device, though its port claims only MIDI_GENERIC: its bytes
// end in the rawmidi buffer (4 KiB), which drops what does not fit. Read at a cable's pace, as a
// device would take them, an 8 KiB message arrives whole only when the backend paces it.
TEST(VirmidiPacing, ARawMidiPortReadAtTheCablesPaceGetsEveryByte) {
    ASSERT_TRUE(midi::WaitForClosedPorts(kArrival)) << "an earlier test's port is still closing";
    RawMidiReader device("hw:0,0", 3300);
    auto service = midi::MakePlatformOutputService();
    const auto virmidi = FindDevice(*service, kVirmidiPort);
    ASSERT_TRUE(virmidi.has_value());
    midi::OpenResult opened = service->Open(*virmidi);
    ASSERT_EQ(opened.code, 0) << opened.error;
    const auto message = PatternMessage(8192, 8);
    const std::vector<std::uint8_t> marker = testsupport::NewEndMarker();
    opened.port->Send(message);
    opened.port->Send(marker);
    const auto arrived = device.BytesBefore(marker, kArrival);
    ASSERT_TRUE(arrived.has_value()) << "the end marker did not arrive";
    EXPECT_TRUE(SameBytes(message, *arrived));
    EXPECT_EQ(device.Overruns(), 0u);
}

// A client that never reads takes a few KiB and then refuses every event, as a stuck
// synthesizer would, and the backend's thread keeps trying for seconds per message. Hand-over
// and closing return while it is still trying: nothing has been sent or has failed yet, and
// the port's thread is still at work after the close.
TEST(AlsaStalledDevice, HandOverAndClosingReturnAtOnceWhileTheDeviceTakesNothing) {
    ASSERT_TRUE(midi::WaitForClosedPorts(kArrival)) << "an earlier test's port is still closing";
    SeqSink sink("Kelvane VM Stalled", "Stalled Port");
    auto service = midi::MakePlatformOutputService();
    const auto device = FindDevice(*service, "Stalled Port");
    ASSERT_TRUE(device.has_value());
    midi::OpenResult opened = service->Open(*device);
    ASSERT_EQ(opened.code, 0) << opened.error;

    for (unsigned i = 0; i < 3; ++i) opened.port->Send(PatternMessage(65536, 80 + i));
    const midi::PortStatus status = opened.port->Status();
    EXPECT_EQ(status.handedOver, 3u);
    EXPECT_EQ(status.sent, 0u);
    EXPECT_EQ(status.failed, 0u);
    opened.port.reset();
    EXPECT_FALSE(midi::WaitForClosedPorts(0ms));
    sink.Close();  // lets the port's thread give up on the rest at once
    EXPECT_TRUE(midi::WaitForClosedPorts(kArrival));
}

TEST(AlsaGoneDevice, ADeviceThatGoesAwayAfterOpeningFailsVisiblyWithoutHanging) {
    SeqSink sink("Kelvane VM Leaving", "Leaving Port");
    auto service = midi::MakePlatformOutputService();
    const auto device = FindDevice(*service, "Leaving Port");
    ASSERT_TRUE(device.has_value());
    midi::OpenResult opened = service->Open(*device);
    ASSERT_EQ(opened.code, 0) << opened.error;

    sink.Close();
    opened.port->Send(PatternMessage(1000, 1));
    EXPECT_TRUE(opened.port->WaitUntilSent(kArrival));
    const midi::PortStatus status = opened.port->Status();
    EXPECT_EQ(status.handedOver, 1u);
    EXPECT_EQ(status.sent, 0u);
    EXPECT_EQ(status.failed, 1u);
    EXPECT_NE(status.lastError, "");
    opened.port.reset();
    EXPECT_TRUE(midi::WaitForClosedPorts(kArrival));
}

}  // namespace
}  // namespace kelvane::vm
