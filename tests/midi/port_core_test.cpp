// The port logic over the recording fake: selector entries, opening by port index, sending on
// the open port, and what carries over between runs.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>

#include "FakeOutputService.h"
#include "midi/Port.h"
#include "midi/QueuedPort.h"

namespace midi {
namespace {

using testing::FakeDevice;
using testing::FakeLog;
using testing::FakeOutputService;

class PortTest : public ::testing::Test {
protected:
    void SetUp() override { ResetPortStateForTests(); }
    void TearDown() override { ResetPortStateForTests(); }

    // Installs a fake with these devices and reads the entries, as start-up does; `ahead`: with
    // the listing begun on its own thread first, as the program's start does.
    std::vector<std::string> StartWith(std::vector<FakeDevice> devices, bool ahead = false) {
        auto service = std::make_unique<FakeOutputService>(std::move(devices), log);
        InstallOutputService(std::move(service));
        if (ahead) StartReadingPortEntries();
        return ReadPortEntries();
    }

    std::shared_ptr<FakeLog> log = std::make_shared<FakeLog>();
};

TEST(EntryText, StopsAtNulAndAfter32Characters) {
    struct Case {
        std::string name;
        std::string entry;
    };
    const std::string alphabet32 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    std::string kana33;
    for (int i = 0; i < 33; ++i) kana33 += "あ";
    const Case cases[] = {
        {"Midi Through Port-0", "Midi Through Port-0"},
        {std::string("USB MIDI\0garbage", 16), "USB MIDI"},
        {std::string("\0Hidden", 7), ""},
        {"", ""},
        {alphabet32, alphabet32},                               // fills all 32, no NUL: whole
        {alphabet32 + "6789", alphabet32},                       // longer: first 32
        {kana33, kana33.substr(0, 32 * 3)},                      // counted in characters, not bytes
        {std::string("ab\0", 3) + alphabet32, "ab"},
        {std::string(40, '\x80'), std::string(32, '\x80')},  // bytes that start no character: one each
    };
    for (const auto& c : cases) EXPECT_EQ(EntryText(c.name), c.entry) << c.name;
}

TEST(ListedDeviceCount, KeepsAtMost255) {
    const std::pair<std::size_t, unsigned> cases[] = {
        {0, 0}, {1, 1}, {254, 254}, {255, 255}, {256, 255}, {300, 255}, {65536, 255}};
    for (const auto& [reported, listed] : cases) EXPECT_EQ(ListedDeviceCount(reported), listed) << reported;
}

TEST_F(PortTest, EntriesListNoneThenTheFirst255Devices) {
    const std::pair<std::size_t, std::size_t> cases[] = {{0, 0}, {1, 1}, {255, 255}, {256, 255}, {300, 255}};
    for (const auto& [reported, listed] : cases) for (const bool ahead : {false, true}) {
        SCOPED_TRACE(ahead ? "listed ahead" : "listed when read");
        DeviceCount = 0;
        const auto entries = StartWith(FakeOutputService::Numbered(reported), ahead);
        ASSERT_EQ(entries.size(), listed + 1) << reported;
        EXPECT_EQ(DeviceCount, listed);
        EXPECT_EQ(entries.front(), "(None)");
        if (listed > 0) {
            EXPECT_EQ(entries.back(), "Device " + std::to_string(listed - 1));
        }
    }
}

TEST_F(PortTest, UnreadableNameStillTakesItsPlace) {
    const auto entries = StartWith({{"Synth"}, {"?", true}, {std::string(40, 'x')}});
    EXPECT_EQ(entries, (std::vector<std::string>{"(None)", "Synth", "(名前を読めないデバイス 1)",
                                                 std::string(32, 'x')}));
}

TEST_F(PortTest, OpenPortIndexClosesFirstAndReportsTheOutcome) {
    StartWith({{"Synth"}, {"Busy", false, 4}});
    struct Step {
        std::int32_t p;
        int outcome;
        bool open;
        std::vector<std::string> log;
    };
    const Step steps[] = {
        {1, 0, true, {"open 0 Synth"}},
        {1, 0, true, {"close 0", "open 0 Synth"}},  // the same port again is closed and reopened
        {2, 4, false, {"close 0", "open 1 Busy -> 4"}},
        {1, 0, true, {"open 0 Synth"}},
        {0, 0, false, {"close 0"}},                 // "(None)": nothing is opened
        {3, NoSuchDevice, false, {}},               // beyond the list: nothing is asked
        {-1, NoSuchDevice, false, {}},
    };
    for (const auto& step : steps) {
        log->clear();
        EXPECT_EQ(OpenPortIndex(step.p), step.outcome) << step.p;
        EXPECT_EQ(MidiOutHandle != nullptr, step.open) << step.p;
        EXPECT_EQ(*log, step.log) << step.p;
    }
}

TEST_F(PortTest, SendsExactlyTheGivenBytesOnTheOpenPortOnly) {
    StartWith({{"Synth"}});
    const std::uint8_t message[] = {0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7, 0x99};

    SendOnOpenPort(GMSystemOn.data(), 5);  // no port open yet
    ASSERT_EQ(OpenPortIndex(1), 0);
    SendOnOpenPort(GMSystemOn.data(), 5);
    SendOnOpenPort(message, 5);            // the byte after the last index is not sent
    SendOnOpenPort(message, -1);
    ASSERT_EQ(OpenPortIndex(0), 0);
    SendOnOpenPort(message, 5);

    EXPECT_EQ(*log, (FakeLog{"open 0 Synth", "send 0: F0 7E 7F 09 01 F7", "send 0: F0 41 10 42 12 F7",
                             "close 0"}));
}

TEST_F(PortTest, StartAndChangeSetTheIndexEvenWhenTheOpenFails) {
    StartWith({{"Synth"}, {"Busy", false, 4}});
    struct Step {
        bool change;
        std::int32_t index;
        int outcome;
    };
    const Step steps[] = {{false, 0, 0}, {false, 1, 0}, {false, 2, 4}, {false, 9, NoSuchDevice},
                          {true, 2, 4},  {true, 0, 0},  {true, 1, 0}};
    for (const auto& step : steps) {
        const int outcome = step.change ? ChangePort(step.index)
                                        : StartPort(static_cast<std::uint8_t>(step.index));
        EXPECT_EQ(outcome, step.outcome) << step.index;
        EXPECT_EQ(OutDeviceIndex, step.index);
    }
}

TEST_F(PortTest, RememberedIndexMeansWhateverDeviceHasThatNumberNow) {
    // First run: three devices, the user picks the third.
    StartWith({{"A"}, {"B"}, {"C"}});
    ASSERT_EQ(ChangePort(3), 0);
    const auto remembered = static_cast<std::uint8_t>(OutDeviceIndex);

    // Next run, "B" unplugged: the index now lies beyond the list.
    ResetPortStateForTests();
    log->clear();
    StartWith({{"A"}, {"C"}});
    EXPECT_EQ(StartPort(remembered), NoSuchDevice);
    EXPECT_EQ(MidiOutHandle, nullptr);
    EXPECT_EQ(OutDeviceIndex, 3);

    // And a run with a device added in front: the same index opens a different device.
    ResetPortStateForTests();
    log->clear();
    StartWith({{"New"}, {"A"}, {"B"}, {"C"}});
    EXPECT_EQ(StartPort(remembered), 0);
    EXPECT_EQ(*log, (FakeLog{"open 2 B"}));
}

TEST_F(PortTest, InstallingAnotherServiceClosesThePortOfTheOldOne) {
    StartWith({{"Synth"}});
    ASSERT_EQ(OpenPortIndex(1), 0);
    InstallOutputService(std::make_unique<FakeOutputService>(FakeOutputService::Numbered(1)));
    EXPECT_EQ(MidiOutHandle, nullptr);
    EXPECT_EQ(*log, (FakeLog{"open 0 Synth", "close 0"}));
}

// A sink whose device goes away while it holds the first message.
class VanishingSink final : public MessageSink {
public:
    VanishingSink(std::shared_future<void> gone, std::shared_ptr<std::atomic<int>> delivered)
        : gone_(std::move(gone)), delivered_(std::move(delivered)) {}
    void Deliver(std::span<const std::uint8_t>) override {
        ++*delivered_;
        gone_.wait();
        throw DeviceGone("gone");
    }

private:
    std::shared_future<void> gone_;
    std::shared_ptr<std::atomic<int>> delivered_;
};

// Once the device has gone nothing queued can arrive: the rest fail with it, none is tried.
TEST(QueuedPortTest, ADeviceThatGoesFailsEverythingQueuedAtOnce) {
    std::promise<void> gone;
    auto delivered = std::make_shared<std::atomic<int>>(0);
    QueuedPort port("vanishing", std::make_unique<VanishingSink>(gone.get_future().share(), delivered));
    for (int i = 0; i < 5; ++i) port.Send(GMSystemOn);
    gone.set_value();
    ASSERT_TRUE(port.WaitUntilSent(std::chrono::minutes(2)));
    const PortStatus status = port.Status();
    EXPECT_EQ(status.handedOver, 5u);
    EXPECT_EQ(status.sent, 0u);
    EXPECT_EQ(status.failed, 5u);
    EXPECT_EQ(status.lastError, "gone");
    EXPECT_EQ(*delivered, 1);
}

}  // namespace
}  // namespace midi
