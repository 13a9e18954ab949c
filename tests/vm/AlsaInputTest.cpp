// The platform input service against the kernel's own sequencer: bytes written to snd-virmidi's
// rawmidi device hw:0,0 come out of its sequencer port as events, which our ALSA input
// reassembles. These run only inside the guest that scripts/test-alsa-vm boots.

#include <gtest/gtest.h>

#include <alsa/asoundlib.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Bytes.h"
#include "Messages.h"
#include "midi/AlsaInput.h"
#include "midi/WireTime.h"
#include "sysex/Reception.h"
#include "sysex/Store.h"

namespace kelvane::vm {
namespace {

using namespace std::chrono_literals;
using ByteVector = std::vector<std::uint8_t>;

const std::string kVirmidiPort = "VirMIDI 0-0";
constexpr auto kArrival = 60s;

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
            service->Open(device, [&](std::span<const std::uint8_t> bytes) { reception.Feed(bytes); });
        EXPECT_EQ(opened.code, 0) << opened.error;
        if (!opened.port) return {};
        // 4 KiB at a time, as a device would deliver it.
        writer.Write(wire, 4096);
        const auto deadline = std::chrono::steady_clock::now() + kArrival;
        while (reception.Now().messages < expected && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_EQ(reception.Now().messages, expected);
        EXPECT_EQ(opened.port->LastError(), "");
        opened.port.reset();
        return reception.MoveIntoStore().scan;
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

}  // namespace
}  // namespace kelvane::vm
