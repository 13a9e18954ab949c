// Real transmission through a JACK server (the `jack` fixture) into the recording receiver.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <numeric>
#include <optional>
#include <string>
#include <thread>

#include "JackListed.h"
#include "JackProcesses.h"
#include "Messages.h"
#include "midi/OwnClients.h"
#include "midi/Port.h"
#include "midi/Transmission.h"
#include "midi/jack/JackClient.h"
#include "midi/jack/JackOutput.h"

namespace midi {
namespace {

using kelvane::testing::JackReceiver;
using kelvane::testing::OwnJackServer;
using testsupport::Append;
using testsupport::Bytes;
using testsupport::PatternMessage;

constexpr auto Patience = std::chrono::minutes(2);

std::string UniqueName(const char* stem) {
    static std::atomic<int> counter{0};
    return std::string(stem) + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

// The device number of the receiver's port in the service's list.
std::size_t DeviceOf(OutputService& service, const JackReceiver& receiver) {
    return kelvane::testing::ListedDevice(service, receiver.PortName());
}

std::unique_ptr<OutputPort> OpenReceiver(OutputService& service, const JackReceiver& receiver) {
    OpenResult opened = service.Open(DeviceOf(service, receiver));
    if (opened.code != 0) throw std::runtime_error("open failed: " + opened.error);
    return std::move(opened.port);
}

// Checks that every message boundary is also an event boundary: no event holds parts of two
// messages. Returns how many events each message took.
std::vector<std::size_t> EventsPerMessage(const std::vector<kelvane::testing::ReceivedEvent>& events,
                                          const std::vector<std::size_t>& sizes) {
    std::vector<std::size_t> counts;
    std::size_t event = 0;
    for (const std::size_t size : sizes) {
        std::size_t taken = 0;
        std::size_t count = 0;
        while (taken < size && event < events.size()) {
            taken += events[event++].size;
            ++count;
        }
        EXPECT_EQ(taken, size) << "an event straddles the end of message " << counts.size();
        counts.push_back(count);
    }
    EXPECT_EQ(event, events.size());
    return counts;
}

// The selector entry of the receiver's port, from a listing of the platform service. A server
// just started on a busy machine may miss a listing, so it is repeated for a while.
std::int32_t EntryOf(const JackReceiver& receiver) {
    std::int32_t found = -1;
    kelvane::testing::WaitUntil([&] {
        const auto entries = ReadPortEntries();
        const auto entry = std::find(entries.begin(), entries.end(), receiver.PortName());
        if (entry != entries.end()) found = static_cast<std::int32_t>(entry - entries.begin());
        return found > 0;
    }, Patience);
    if (found < 0) throw std::runtime_error("the receiver " + receiver.PortName() + " is not listed");
    return found;
}

const Bytes GmOnBytes(GMSystemOn.begin(), GMSystemOn.end());

class JackOutput : public ::testing::Test {
protected:
    // Every port a test destroyed must finish on its own: deliver, close its client, end.
    void TearDown() override {
        ResetPortStateForTests();
        EXPECT_TRUE(WaitForClosedPorts(Patience));
    }
};

TEST_F(JackOutput, ListsTheMidiInputsOfOtherClients) {
    kelvane::testing::RequireEnv("JACK_DEFAULT_SERVER");
    JackReceiver receiver(UniqueName("kelvane-rx"));
    auto service = MakeJackOutputService();
    EXPECT_NO_THROW(DeviceOf(*service, receiver));

    // An open port of ours ("Kelvane:out") never shows up in the list. Other tests' receivers,
    // and other processes' Kelvane inputs, come and go meanwhile, so only our own are looked for.
    auto port = OpenReceiver(*service, receiver);
    const std::size_t count = service->CountDevices();
    for (std::size_t device = 0; device < count; ++device) {
        EXPECT_FALSE(IsOwnJackPort(service->DeviceName(device))) << service->DeviceName(device);
    }

    // The listing client opens without memory locking; the listing thread gets its own
    // capabilities back afterwards.
    const auto effective = [] {
        std::ifstream status("/proc/thread-self/status");
        std::string line;
        while (std::getline(status, line) && line.rfind("CapEff:", 0) != 0) {
        }
        return line;
    };
    const std::string before = effective();
    ASSERT_FALSE(before.empty());
    EXPECT_FALSE(ListJackMidiPorts(JackPortIsInput).empty());
    EXPECT_EQ(effective(), before);
}

// At start-up the window holds the listing client's close until it has painted; released, the
// client closes, and the exit wait sees it.
TEST_F(JackOutput, AHeldListingCloseWaitsForItsRelease) {
    kelvane::testing::RequireEnv("JACK_DEFAULT_SERVER");
    ASSERT_TRUE(WaitForClosedPorts(Patience));
    HoldListingCloses();
    ListJackMidiPorts(JackPortIsInput);
    EXPECT_FALSE(WaitForClosedPorts(std::chrono::milliseconds(300)));
    ReleaseListingCloses();
    EXPECT_TRUE(WaitForClosedPorts(Patience));
}

TEST_F(JackOutput, DeliversMessagesOfEverySizeByteExactAndInOrder) {
    JackReceiver receiver(UniqueName("kelvane-rx"));
    auto service = MakeJackOutputService();
    auto port = OpenReceiver(*service, receiver);

    // 2 MB and 16 MB are far longer than the ring between the port's thread and the callback,
    // and take longer to go out than a transmission waits for a port that confirms nothing.
    const std::vector<std::size_t> sizes{6, 1000, 20000, 65536, 2'000'000, 16'000'000, 6};
    std::vector<Bytes> messages;
    Bytes expected;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        messages.push_back(PatternMessage(sizes[i], static_cast<unsigned>(i)));
        Append(expected, messages.back());
    }
    Transmission transmission(messages, {0, midi::FastestSpeed});
    const TransmissionOutcome outcome = transmission.Run(*port);
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(outcome.messagesWhole, sizes.size());
    const Bytes marker = testsupport::NewEndMarker();
    port->Send(marker);
    ASSERT_TRUE(port->WaitUntilSent(Patience));
    const std::optional<Bytes> received = receiver.BytesBefore(marker, Patience);
    ASSERT_TRUE(received);
    const PortStatus status = port->Status();
    EXPECT_EQ(status.handedOver, sizes.size() + 1);
    EXPECT_EQ(status.sent, sizes.size() + 1);
    EXPECT_EQ(status.failed, 0u);
    EXPECT_EQ(status.lastError, "");
    if (!outcome.messagesInDoubt.empty()) {
        // A busy machine held the port's client up: the messages that went meanwhile are named,
        // and every other one arrived whole and in order.
        auto from = received->begin();
        for (std::size_t k = 0; k < messages.size(); ++k) {
            if (std::count(outcome.messagesInDoubt.begin(), outcome.messagesInDoubt.end(), k)) continue;
            const auto found = std::search(from, received->end(), messages[k].begin(), messages[k].end());
            ASSERT_NE(found, received->end()) << "message " << k << " was not named, yet did not arrive whole";
            from = found + static_cast<std::ptrdiff_t>(messages[k].size());
        }
        return;
    }
    EXPECT_TRUE(*received == expected);

    ASSERT_EQ(receiver.Stop(), 0);
    const auto events = receiver.Events();
    std::vector<std::size_t> withMarker = sizes;
    withMarker.push_back(marker.size());
    const auto counts = EventsPerMessage(events, withMarker);
    // Small messages travel as one event each; 64 KiB exceeds any port buffer and is split, and
    // a long message goes in events as large as the port buffer takes, all but its last full.
    EXPECT_EQ(counts[0], 1u);
    EXPECT_EQ(counts[1], 1u);
    EXPECT_GT(counts[3], 1u);
    EXPECT_EQ(counts[sizes.size() - 1], 1u);
    std::size_t first = 0;
    for (std::size_t m = 0; m < sizes.size(); ++m) {
        if (counts[m] > 1) {
            const std::size_t full = events[first].size;
            EXPECT_EQ(counts[m], (sizes[m] + full - 1) / full) << "message " << m;
            for (std::size_t e = first; e + 1 < first + counts[m]; ++e) {
                ASSERT_EQ(events[e].size, full) << "message " << m << ", event " << e - first;
            }
        }
        first += counts[m];
    }
}

// A program reads one event as one message; only a port that leads to a cable gets the paced
// pieces of a long message.
TEST_F(JackOutput, APacedSendGivesAProgramWholeMessagesAndACablePieces) {
    const struct {
        const char* what;
        JackReceiver::Kind kind;
        Pace pace;
        std::vector<std::size_t> eventsPerMessage;
    } rows[] = {
        {"a program's port at the cable's rate", JackReceiver::Kind::Program, {0, 100}, {1, 1, 1}},
        {"a program's port at the fastest", JackReceiver::Kind::Program, {0, midi::FastestSpeed}, {1, 1, 1}},
        // 156 bytes (50 ms at the rate) at a time: 1,000 bytes in 7 pieces, 200 in 2.
        {"a physical port at the cable's rate", JackReceiver::Kind::Physical, {0, 100}, {1, 7, 2}},
        {"a physical port at the fastest: pieces of 256 bytes", JackReceiver::Kind::Physical,
         {0, midi::FastestSpeed}, {1, 4, 1}},
    };
    const std::vector<std::size_t> sizes{6, 1000, 200};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        JackReceiver receiver(UniqueName("kelvane-rx"), row.kind);
        auto service = MakeJackOutputService();
        auto port = OpenReceiver(*service, receiver);
        EXPECT_EQ(port->LeadsToCable(), row.kind == JackReceiver::Kind::Physical);
        std::vector<Bytes> messages;
        Bytes expected;
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            messages.push_back(PatternMessage(sizes[i], static_cast<unsigned>(i)));
            Append(expected, messages.back());
        }
        Transmission transmission(messages, row.pace);
        const TransmissionOutcome outcome = transmission.Run(*port);
        EXPECT_EQ(outcome.error, "");
        EXPECT_EQ(outcome.messagesWhole, sizes.size());
        EXPECT_EQ(receiver.WaitForBytes(expected.size(), Patience), expected);
        ASSERT_EQ(receiver.Stop(), 0);
        EXPECT_EQ(EventsPerMessage(receiver.Events(), sizes), row.eventsPerMessage);
    }
}

TEST_F(JackOutput, HundredMessagesBackToBackAllArriveInOrder) {
    JackReceiver receiver(UniqueName("kelvane-rx"));
    auto service = MakeJackOutputService();
    auto port = OpenReceiver(*service, receiver);

    std::vector<std::size_t> sizes;
    Bytes expected;
    for (int i = 0; i < 100; ++i) {
        sizes.push_back(6 + static_cast<std::size_t>(i) * 53);
        const Bytes message = PatternMessage(sizes.back(), static_cast<unsigned>(i));
        port->Send(message);
        Append(expected, message);
    }
    EXPECT_EQ(receiver.WaitForBytes(expected.size(), Patience), expected);
    ASSERT_EQ(receiver.Stop(), 0);
    EventsPerMessage(receiver.Events(), sizes);
}

TEST_F(JackOutput, ChoosingThePortThroughThePortLogicSendsGmSystemOn) {
    JackReceiver receiver(UniqueName("kelvane-rx"));
    ResetPortStateForTests();
    const auto entries = ReadPortEntries();
    const auto found = std::find(entries.begin(), entries.end(), receiver.PortName());
    ASSERT_NE(found, entries.end());
    const auto entry = static_cast<std::int32_t>(found - entries.begin());

    ASSERT_EQ(ChangePort(entry), 0);
    SendOnOpenPort(GMSystemOn.data(), 5);
    EXPECT_EQ(receiver.WaitForBytes(6, Patience), (Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));

    // "(None)" closes the port: a message handed over now goes nowhere. A port of the same
    // device opened afterwards sends only once the old one is done, so its marker comes last.
    ASSERT_TRUE(MidiOutHandle->WaitUntilSent(Patience));
    ASSERT_EQ(ChangePort(0), 0);
    SendOnOpenPort(GMSystemOn.data(), 5);
    ASSERT_EQ(ChangePort(entry), 0);
    const Bytes marker = testsupport::NewEndMarker();
    SendOnOpenPort(marker.data(), static_cast<std::int32_t>(marker.size() - 1));
    EXPECT_EQ(receiver.BytesBefore(marker, Patience), (Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
}

TEST_F(JackOutput, ChoosingTheSamePortAgainWaitsForTheOldPortsMessages) {
    JackReceiver receiver(UniqueName("kelvane-rx"));
    const auto entries = ReadPortEntries();
    const auto entry = static_cast<std::int32_t>(
        std::find(entries.begin(), entries.end(), receiver.PortName()) - entries.begin());
    ASSERT_LT(entry, static_cast<std::int32_t>(entries.size()));

    // The old port is still sending 256 KiB when the new one gets GM System On.
    Bytes expected;
    ASSERT_EQ(ChangePort(entry), 0);
    for (std::uint8_t i = 0; i < 4; ++i) {
        const Bytes message = PatternMessage(65536, i);
        SendOnOpenPort(message.data(), static_cast<std::int32_t>(message.size() - 1));
        Append(expected, message);
    }
    ASSERT_EQ(ChangePort(entry), 0);
    SendOnOpenPort(GMSystemOn.data(), 5);
    expected.insert(expected.end(), GMSystemOn.begin(), GMSystemOn.end());

    EXPECT_EQ(receiver.WaitForBytes(expected.size(), Patience), expected);
}

TEST_F(JackOutput, SendAndCloseReturnAtOnceAndClosingNeverCutsAMessage) {
    JackReceiver receiver(UniqueName("kelvane-rx"));
    auto service = MakeJackOutputService();
    auto port = OpenReceiver(*service, receiver);
    const Bytes big = PatternMessage(65536, 3);

    port->Send(big);
    port.reset();
    const std::size_t arrivedAtClose = receiver.Bytes().size();

    // 64 KiB take several hundred milliseconds through the dummy driver; neither call waits for
    // them (kelvane_bench_midi_send times both calls).
    EXPECT_LT(arrivedAtClose, big.size());
    EXPECT_EQ(receiver.WaitForBytes(big.size(), Patience), big);
}

TEST_F(JackOutput, OpeningAPortThatHasGoneFails) {
    JackReceiver receiver(UniqueName("kelvane-rx"));
    auto service = MakeJackOutputService();
    const std::size_t device = DeviceOf(*service, receiver);
    ASSERT_EQ(receiver.Stop(), 0);

    const OpenResult opened = service->Open(device);
    EXPECT_NE(opened.code, 0);
    EXPECT_EQ(opened.error, "JACK の jack_connect が失敗しました");
    EXPECT_EQ(opened.port, nullptr);
}

TEST_F(JackOutput, AServerThatGoesAwayHangsNeitherSendNorClose) {
    OwnJackServer own("-dying");
    JackReceiver receiver(UniqueName("kelvane-rx"));
    auto service = MakeJackOutputService();
    auto port = OpenReceiver(*service, receiver);
    port->Send(PatternMessage(65536, 1));
    own.Server().Kill();

    // Handing over never touches the server; kelvane_bench_midi_send times it after a kill.
    for (unsigned i = 0; i < 10; ++i) port->Send(PatternMessage(1000, i));

    // The port's thread notices and gives up on every message instead of waiting forever.
    ASSERT_TRUE(port->WaitUntilSent(Patience));
    const PortStatus status = port->Status();
    EXPECT_EQ(status.handedOver, 11u);
    EXPECT_EQ(status.sent + status.failed, 11u);
    EXPECT_GE(status.failed, 10u);
    EXPECT_EQ(status.lastError, JackServerGoneText);
    port.reset();
}

// libjack crashes when a client is opened while another one of the same process is closed on a
// dead server: choosing ports again and again after the server died must only fail, and once a
// server of that name runs again the same entry opens and gets GM System On.
TEST_F(JackOutput, ChoosingPortsAfterTheServerDiedFailsQuietlyAndWorksOnceItRunsAgain) {
    OwnJackServer own("-restarted");
    const std::string name = UniqueName("kelvane-rx");
    auto receiver = std::make_unique<JackReceiver>(name);
    const std::int32_t entry = EntryOf(*receiver);
    ASSERT_EQ(ChangePort(entry), 0);
    SendOnOpenPort(GMSystemOn.data(), 5);
    ASSERT_EQ(receiver->WaitForBytes(6, Patience), GmOnBytes);

    own.Server().Kill();
    receiver->Stop();
    for (int i = 0; i < 5; ++i) EXPECT_NE(ChangePort(entry), 0) << "choice " << i;

    own.Server().Restart();
    receiver = std::make_unique<JackReceiver>(name);
    ASSERT_EQ(ChangePort(entry), 0);
    SendOnOpenPort(GMSystemOn.data(), 5);
    EXPECT_EQ(receiver->WaitForBytes(6, Patience), GmOnBytes);
    ResetPortStateForTests();
    EXPECT_TRUE(WaitForClosedPorts(Patience));
}

// A suspended server (SIGSTOP) never answers: without a bound the choice would never return.
// Once it runs again, an open port sends at once however long the server was held up.
TEST_F(JackOutput, ASuspendedServerFailsAChoiceAndCountsAsAbsentUntilItRunsAgain) {
    constexpr auto HeldUp = std::chrono::seconds(6);
    OwnJackServer own("-suspended");
    JackReceiver receiver(UniqueName("kelvane-rx"));
    const std::int32_t entry = EntryOf(receiver);

    own.Server().Suspend();
    const int code = ChangePort(entry);
    EXPECT_EQ(code, -ETIMEDOUT);
    EXPECT_EQ(MidiOutHandle, nullptr);

    // The calls given up on finish once the server answers again; then a choice works.
    own.Server().Resume();
    ASSERT_TRUE(kelvane::testing::WaitUntil([&] { return ChangePort(entry) == 0; }, Patience));
    SendOnOpenPort(GMSystemOn.data(), 5);
    EXPECT_EQ(receiver.WaitForBytes(6, Patience), GmOnBytes);

    own.Server().Suspend();
    const auto entries = ReadPortEntries();
    EXPECT_EQ(std::find(entries.begin(), entries.end(), receiver.PortName()), entries.end());
    std::this_thread::sleep_for(HeldUp);
    own.Server().Resume();
    // The port's idea of the server's current frame ran on while the server stood still; a
    // message sent now goes in the next cycles, not once the server has caught up with it.
    SendOnOpenPort(GMSystemOn.data(), 5);
    Bytes twice = GmOnBytes;
    Append(twice, GmOnBytes);
    EXPECT_EQ(receiver.WaitForBytes(twice.size(), HeldUp / 2), twice);
    ResetPortStateForTests();
    EXPECT_TRUE(WaitForClosedPorts(Patience));
}

// Each queued message would otherwise wait 5 s for a receiver that has gone, and the port chosen
// next waits for all of them: 20 messages, 100 s.
TEST_F(JackOutput, AClosedPortWhoseReceiverWentAwayDropsItsQueueAtOnce) {
    const std::string name = UniqueName("kelvane-rx");
    auto receiver = std::make_unique<JackReceiver>(name);
    const std::int32_t entry = EntryOf(*receiver);
    ASSERT_EQ(ChangePort(entry), 0);
    for (std::uint8_t i = 0; i < 20; ++i) {
        const Bytes message = PatternMessage(65536, i);
        SendOnOpenPort(message.data(), static_cast<std::int32_t>(message.size() - 1));
    }
    ASSERT_FALSE(receiver->WaitForBytes(1, Patience).empty());
    receiver.reset();
    receiver = std::make_unique<JackReceiver>(name);

    ASSERT_EQ(ChangePort(entry), 0);
    SendOnOpenPort(GMSystemOn.data(), 5);
    EXPECT_EQ(receiver->WaitForBytes(6, Patience), GmOnBytes);
}

// libjack overflows a buffer (and aborts the process) for a server name this long.
TEST_F(JackOutput, AServerNameLongerThanLibjackTakesCountsAsNoServer) {
    const std::string fixtureServer = kelvane::testing::RequireEnv("JACK_DEFAULT_SERVER");
    JackReceiver receiver(UniqueName("kelvane-rx"));
    auto service = MakeJackOutputService();
    const std::size_t device = DeviceOf(*service, receiver);

    setenv("JACK_DEFAULT_SERVER", std::string(300, 'k').c_str(), 1);
    const OpenResult opened = service->Open(device);
    const std::size_t count = service->CountDevices();
    setenv("JACK_DEFAULT_SERVER", fixtureServer.c_str(), 1);
    EXPECT_NE(opened.code, 0);
    EXPECT_EQ(opened.port, nullptr);
    EXPECT_EQ(count, 0u);
}

}  // namespace
}  // namespace midi
