// The platform input service against the kernel's own sequencer: bytes written to snd-virmidi's
// rawmidi device hw:0,0 come out of its sequencer port as events, which our ALSA input
// reassembles. These run only inside the guest that scripts/test-alsa-vm boots.

#include <gtest/gtest.h>

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Bytes.h"
#include "Messages.h"
#include "midi/Input.h"
#include "midi/WireTime.h"
#include "midi/alsa/AlsaInput.h"
#include "sysex/Reception.h"
#include "sysex/Store.h"

namespace kelvane::vm {
namespace {

using namespace std::chrono_literals;
using ByteVector = std::vector<std::uint8_t>;

const std::string kVirmidiPort = "VirMIDI 0-0";
constexpr auto kArrival = 180s;  // an upper bound only: a busy host slows the guest several-fold

// The rawmidi side of virmidi: what is written here reaches the sequencer port's subscribers.
class RawMidiWriter {
public:
    RawMidiWriter() {
        if (snd_rawmidi_open(nullptr, &output_, "hw:0,0", 0) < 0) throw std::runtime_error("snd_rawmidi_open hw:0,0");
    }
    ~RawMidiWriter() { snd_rawmidi_close(output_); }
    RawMidiWriter(const RawMidiWriter&) = delete;
    RawMidiWriter& operator=(const RawMidiWriter&) = delete;

    // Ten times as fast as a MIDI cable can carry the bytes. At memory speed the guest's emulated
    // CPUs cannot always read in time, and the kernel drops events (ENOSPC) before any program
    // sees them: a rate no cable reaches.
    void Write(const ByteVector& bytes, std::size_t piece) {
        const auto writing = std::chrono::steady_clock::now();
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            const std::size_t count = std::min(piece, bytes.size() - at);
            ASSERT_EQ(snd_rawmidi_write(output_, bytes.data() + at, count), static_cast<ssize_t>(count));
            std::this_thread::sleep_until(writing + midi::WireTime(at + count) / 10);
        }
        snd_rawmidi_drain(output_);
    }

private:
    snd_rawmidi_t* output_ = nullptr;
};

class VirmidiInputTest : public testing::Test {
protected:
    void SetUp() override { sysex::ResetStoreForTests(); }

    // Opens the input on virmidi, writes `wire`, and stops once `expected` messages are complete.
    sysex::ScanResult Receive(const ByteVector& wire, std::int32_t expected) {
        RawMidiWriter writer;
        auto service = midi::MakeAlsaInputService();
        std::size_t device = service->CountDevices();
        for (std::size_t d = 0; d < service->CountDevices(); ++d) {
            if (service->DeviceName(d) == kVirmidiPort) device = d;
        }
        sysex::Reception reception;
        midi::InputOpenResult opened =
            service->Open(device, midi::ReceiverFor(reception));
        EXPECT_EQ(opened.code, 0) << opened.error;
        if (!opened.port) return {};
        // 4 KiB at a time, as a device would deliver it.
        writer.Write(wire, 4096);
        const auto deadline = std::chrono::steady_clock::now() + kArrival;
        while (reception.Now().messages < expected && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_EQ(reception.Now().messages, expected);
        opened.port.reset();
        const sysex::ReceptionSummary summary = reception.MoveIntoStore();
        EXPECT_FALSE(summary.LostAnything());
        return summary.scan;
    }

    static void ExpectStored(const std::vector<ByteVector>& messages) {
        ASSERT_EQ(sysex::SysExCount, static_cast<int>(messages.size()));
        for (std::size_t k = 0; k < messages.size(); ++k) {
            const ByteVector stored(sysex::SysExData[k], sysex::SysExData[k] + sysex::SysExLen[k] + 1);
            EXPECT_TRUE(SameBytes(messages[k], stored)) << "message " << k;
        }
    }
};

ByteVector WithClockBytes(const std::vector<ByteVector>& messages) {
    ByteVector wire;
    for (const ByteVector& m : messages) {
        for (std::size_t i = 0; i < m.size(); ++i) {
            if (i % 500 == 499) wire.push_back(0xF8);
            wire.push_back(m[i]);
        }
    }
    return wire;
}

TEST_F(VirmidiInputTest, LongestMessageArrivesByteExact) {
    const std::vector<ByteVector> messages{testsupport::PatternMessage(65536, 1), testsupport::PatternMessage(6, 2)};
    EXPECT_FALSE(Receive(WithClockBytes(messages), 2).DroppedAnything());
    ExpectStored(messages);
}

TEST_F(VirmidiInputTest, HundredMessagesBackToBackArriveByteExact) {
    std::vector<ByteVector> messages;
    for (std::size_t k = 0; k < 100; ++k) messages.push_back(testsupport::PatternMessage(6 + (k * 613) % 3000, static_cast<std::uint8_t>(k)));
    EXPECT_FALSE(Receive(WithClockBytes(messages), 100).DroppedAnything());
    ExpectStored(messages);
}

std::size_t SourceNamed(midi::InputService& service, const std::string& name) {
    const std::size_t count = service.CountDevices();
    for (std::size_t d = 0; d < count; ++d) {
        if (service.DeviceName(d) == name) return d;
    }
    return count;
}

// The contract every input keeps: what the kernel dropped is reported at its place, so that no
// message is stored with a gap spliced shut.
TEST_F(VirmidiInputTest, LossIsReportedWhenTheKernelOverruns) {
    auto service = midi::MakeAlsaInputService();
    sysex::Reception reception;
    std::atomic<bool> release{false};
    midi::ByteReceiver slow(
        [&](std::span<const std::uint8_t> bytes) {
            // A reader that cannot keep up: the client's pool in the kernel fills.
            while (!release.load()) std::this_thread::sleep_for(1ms);
            reception.Feed(bytes);
        },
        [&](sysex::LossCause cause, std::uint32_t events) { reception.Lose(cause, events); });
    midi::InputOpenResult opened = service->Open(SourceNamed(*service, kVirmidiPort), std::move(slow));
    ASSERT_EQ(opened.code, 0) << opened.error;
    std::vector<ByteVector> messages;
    for (std::size_t k = 0; k < 200; ++k) messages.push_back(testsupport::PatternMessage(3000, static_cast<std::uint8_t>(k)));
    {
        snd_rawmidi_t* output = nullptr;
        ASSERT_GE(snd_rawmidi_open(nullptr, &output, "hw:0,0", 0), 0);
        for (const ByteVector& m : messages) snd_rawmidi_write(output, m.data(), m.size());
        snd_rawmidi_drain(output);
        snd_rawmidi_close(output);
    }
    release = true;
    const auto deadline = std::chrono::steady_clock::now() + kArrival;
    while (!reception.Now().lost && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(500ms);
    opened.port.reset();
    const sysex::ReceptionSummary summary = reception.MoveIntoStore();
    EXPECT_GE(summary.losses.Times(sysex::LossCause::Overrun), 1u);
    EXPECT_LT(summary.scan.stored, 200);
    for (int k = 0; k < sysex::SysExCount; ++k) {
        const ByteVector stored(sysex::SysExData[k], sysex::SysExData[k] + sysex::SysExLen[k] + 1);
        EXPECT_NE(std::find(messages.begin(), messages.end(), stored), messages.end()) << "message " << k;
    }
}

// A sending client that goes away is announced by the system; the reception ends with a notice.
TEST_F(VirmidiInputTest, LossIsReportedWhenTheSourceGoes) {
    snd_seq_t* sender = nullptr;
    ASSERT_GE(snd_seq_open(&sender, "default", SND_SEQ_OPEN_OUTPUT, 0), 0);
    snd_seq_set_client_name(sender, "leaving sender");
    ASSERT_GE(snd_seq_create_simple_port(sender, "leaving out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                         SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION),
              0);
    auto service = midi::MakeAlsaInputService();
    sysex::Reception reception;
    midi::InputOpenResult opened = service->Open(SourceNamed(*service, "leaving out"), midi::ReceiverFor(reception));
    ASSERT_EQ(opened.code, 0) << opened.error;
    snd_seq_close(sender);
    const auto deadline = std::chrono::steady_clock::now() + kArrival;
    while (!reception.Now().ended && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(reception.Now().ended);
    opened.port.reset();
    // Nothing was open when it left: the end of the reception, not a loss.
    const sysex::ReceptionSummary summary = reception.MoveIntoStore();
    EXPECT_TRUE(summary.sourceLeft);
    EXPECT_FALSE(summary.LostAnything());
}

}  // namespace
}  // namespace kelvane::vm
