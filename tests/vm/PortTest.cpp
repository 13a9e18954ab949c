// The port calls the window makes (selector entries, a port change, ExcOut's hand-over) on the
// platform's own service, against the kernel's sequencer. Runs only inside the guest.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "Bytes.h"
#include "Messages.h"
#include "RawMidiReader.h"
#include "SeqSink.h"
#include "midi/Port.h"

namespace kelvane::vm {
namespace {

using testsupport::Append;
using testsupport::PatternMessage;
using namespace std::chrono_literals;

const std::vector<std::uint8_t> kGmSystemOn(midi::GMSystemOn.begin(), midi::GMSystemOn.end());
constexpr auto kArrival = 180s;  // an upper bound only: a busy host slows the guest several-fold

std::int32_t EntryOf(const std::vector<std::string>& entries, const std::string& text) {
    const auto found = std::find(entries.begin(), entries.end(), text);
    return found == entries.end() ? -1 : static_cast<std::int32_t>(found - entries.begin());
}

// What ExcOut does with a ticked "MIDI OUT" box: the whole message, last index size - 1.
void ExcOut(const std::vector<std::uint8_t>& message) {
    midi::SendOnOpenPort(message.data(), static_cast<std::int32_t>(message.size()) - 1);
}

// Whether exactly `expected` has arrived and nothing more: an end marker handed to the open
// port after it arrives last.
testing::AssertionResult ArrivedExactly(const std::vector<std::uint8_t>& expected, RawMidiReader& reader) {
    const std::vector<std::uint8_t> marker = testsupport::NewEndMarker();
    ExcOut(marker);
    const auto before = reader.BytesBefore(marker, kArrival);
    if (!before) return testing::AssertionFailure() << "the end marker did not arrive";
    return SameBytes(expected, *before);
}

class PortTest : public testing::Test {
protected:
    void SetUp() override { midi::ResetPortStateForTests(); }
    void TearDown() override { midi::ResetPortStateForTests(); }
};

TEST_F(PortTest, SelectorListsVirmidiAndMidiThroughAsAconnectNamesThem) {
    const std::vector<std::string> entries = midi::ReadPortEntries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.front(), "(None)");
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "VirMIDI 0-0"), 1);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "Midi Through Port-0"), 1);
    EXPECT_EQ(midi::DeviceCount, entries.size() - 1);
}

TEST_F(PortTest, ChoosingVirmidiOpensItAndGmSystemOnArrivesExactly) {
    RawMidiReader reader("hw:0,0");
    const auto entry = EntryOf(midi::ReadPortEntries(), "VirMIDI 0-0");
    ASSERT_GE(entry, 1);
    ASSERT_EQ(midi::ChangePort(entry), 0);
    EXPECT_EQ(midi::OutDeviceIndex, entry);
    ExcOut(kGmSystemOn);
    EXPECT_TRUE(ArrivedExactly(kGmSystemOn, reader));
}

// Choosing the entry that is already open closes the port and opens it again, then sends GM
// System On at once, while the old port may still be sending long messages to the same device.
// The device must get every long message whole, then GM System On. 16 KiB queued on the old
// port keep it busy for five seconds at the cable's pace, well past the reopening.
TEST_F(PortTest, ChoosingTheSamePortAgainNeverSplitsAMessageStillGoingOut) {
    RawMidiReader reader("hw:0,0");
    const auto entry = EntryOf(midi::ReadPortEntries(), "VirMIDI 0-0");
    ASSERT_GE(entry, 1);
    std::vector<std::vector<std::uint8_t>> messages;
    std::vector<std::uint8_t> expected;
    for (unsigned i = 0; i < 4; ++i) {
        messages.push_back(PatternMessage(4096, 60 + i));
        Append(expected, messages.back());
    }
    ASSERT_EQ(midi::ChangePort(entry), 0);
    for (const auto& message : messages) ExcOut(message);
    ASSERT_EQ(midi::ChangePort(entry), 0);
    ExcOut(kGmSystemOn);
    Append(expected, kGmSystemOn);
    EXPECT_TRUE(ArrivedExactly(expected, reader));
}

TEST_F(PortTest, ChoosingAPortThatHasGoneAwayFailsAndLaterEntriesStayTheirDevices) {
    SeqSink gone("Kelvane VM Gone", "Gone Port");
    SeqSink stays("Kelvane VM Stays", "Staying Port");
    const std::vector<std::string> entries = midi::ReadPortEntries();
    const auto goneEntry = EntryOf(entries, "Gone Port");
    const auto staysEntry = EntryOf(entries, "Staying Port");
    ASSERT_GE(goneEntry, 1);
    ASSERT_GT(staysEntry, goneEntry);

    gone.Close();
    EXPECT_NE(midi::ChangePort(goneEntry), 0);
    EXPECT_EQ(midi::MidiOutHandle, nullptr);
    ExcOut(kGmSystemOn);  // no port open: nothing may happen

    ASSERT_EQ(midi::ChangePort(staysEntry), 0);
    ExcOut(kGmSystemOn);
    EXPECT_TRUE(SameBytes(kGmSystemOn, stays.Receive(kGmSystemOn.size(), kArrival)));
}

TEST_F(PortTest, ARememberedIndexBeyondTheListFailsToOpen) {
    const std::vector<std::string> entries = midi::ReadPortEntries();
    const auto beyond = static_cast<std::uint8_t>(entries.size());
    EXPECT_NE(midi::StartPort(beyond), 0);
    EXPECT_EQ(midi::OutDeviceIndex, beyond);
    EXPECT_EQ(midi::MidiOutHandle, nullptr);
}

}  // namespace
}  // namespace kelvane::vm
