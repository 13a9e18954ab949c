// The pieces of the output service that need no running MIDI system: the combined device
// list, the wire pacing, and what the platform service does on a machine without ALSA or JACK.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>

#include <unistd.h>

#include "FakeOutputService.h"
#include "Wait.h"
#include "common/Failure.h"
#include "midi/CombinedOutput.h"
#include "midi/Port.h"
#include "midi/WirePacer.h"
#include "midi/alsa/AlsaOutput.h"

namespace midi {
namespace {

using testing::FakeDevice;
using testing::FakeLog;
using testing::FakeOutputService;

TEST(CombinedOutput, ListsEachPartInTurnAndRoutesToIt) {
    auto log = std::make_shared<FakeLog>();
    std::vector<std::unique_ptr<OutputService>> parts;
    parts.push_back(std::make_unique<FakeOutputService>(std::vector<FakeDevice>{{"A0"}, {"A1"}}, log));
    parts.push_back(std::make_unique<FakeOutputService>(std::vector<FakeDevice>{}, log));
    parts.push_back(std::make_unique<FakeOutputService>(std::vector<FakeDevice>{{"B0"}, {"B1", false, 7}}, log));
    CombinedOutputService combined(std::move(parts));

    ASSERT_EQ(combined.CountDevices(), 4u);
    EXPECT_EQ(combined.DeviceName(0), "A0");
    EXPECT_EQ(combined.DeviceName(2), "B0");
    EXPECT_EQ(combined.DeviceName(3), "B1");
    try {
        combined.DeviceName(4);
        ADD_FAILURE() << "no failure for a device beyond the list";
    } catch (const kelvane::Failure& failure) {
        EXPECT_STREQ(failure.what(), "MIDI 出力デバイス 4 はありません");
    }

    EXPECT_EQ(combined.Open(1).code, 0);
    EXPECT_EQ(combined.Open(3).code, 7);
    const OpenResult beyond = combined.Open(4);
    EXPECT_EQ(beyond.code, NoSuchDevice);
    EXPECT_EQ(beyond.error, "MIDI 出力デバイス 4 はありません");
    EXPECT_EQ(beyond.port, nullptr);
    // Device 1 of the whole list is device 1 of the first part, device 3 is device 1 of the third.
    EXPECT_EQ(*log, (FakeLog{"open 1 A1", "close 1", "open 1 B1 -> 7"}));
}

// A part that answers only once every part has been asked: listed one after the other, the
// first would wait for the second in vain.
class MeetingPart final : public OutputService {
public:
    explicit MeetingPart(std::atomic<int>& asked) : asked_(asked) {}
    std::size_t CountDevices() override {
        ++asked_;
        return testsupport::WaitUntil([this] { return asked_ == 2; }, std::chrono::minutes(2)) ? 1 : 0;
    }
    std::string DeviceName(std::size_t) override { return "met"; }
    OpenResult Open(std::size_t) override { return {NoSuchDevice, "closed", nullptr}; }

private:
    std::atomic<int>& asked_;
};

TEST(CombinedOutput, AsksItsPartsAtOnce) {
    std::atomic<int> asked{0};
    std::vector<std::unique_ptr<OutputService>> parts;
    parts.push_back(std::make_unique<MeetingPart>(asked));
    parts.push_back(std::make_unique<MeetingPart>(asked));
    EXPECT_EQ(CombinedOutputService(std::move(parts)).CountDevices(), 2u);
}

TEST(WirePacer, LetsOneBurstThroughThenKeepsToTheWireRate) {
    using namespace std::chrono;
    const auto t0 = WirePacer::Clock::time_point{} + hours(1);
    WirePacer pacer(t0);
    struct Step {
        microseconds at;
        std::size_t bytes;
        microseconds wait;
    };
    const Step steps[] = {
        {microseconds(0), 256, microseconds(0)},
        {microseconds(0), 768, microseconds(0)},          // 1,024 bytes: the whole burst
        {microseconds(0), 256, microseconds(81'920)},     // 256 bytes at 320 µs each
        {microseconds(81'920), 256, microseconds(81'920)},
        {microseconds(163'840), 1, microseconds(320)},
        {seconds(60), 1024, microseconds(0)},             // a long pause restores one burst only
        {seconds(60), 10, microseconds(3'200)},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(pacer.Reserve(step.bytes, t0 + step.at), step.wait) << step.at.count();
    }
}

// These run where the machine has no sound devices, as the test machines do.
bool HasAlsaSequencer() { return std::filesystem::exists("/dev/snd/seq"); }

TEST(AlsaOutput, WithoutSequencerListsNothingAndSaysNothing) {
    if (HasAlsaSequencer()) GTEST_SKIP() << "this machine has an ALSA sequencer";
    auto service = MakeAlsaOutputService();
    ::testing::internal::CaptureStderr();
    const std::size_t count = service->CountDevices();
    const OpenResult opened = service->Open(0);
    const std::string printed = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(count, 0u);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(opened.code, NoSuchDevice);
    EXPECT_EQ(opened.error, "ALSA の出力デバイス 0 はありません");
    EXPECT_EQ(opened.port, nullptr);
    EXPECT_THROW(service->DeviceName(0), kelvane::Failure);
}

TEST(PlatformOutput, WithoutAlsaOrJackOffersOnlyNone) {
    if (HasAlsaSequencer()) GTEST_SKIP() << "this machine has an ALSA sequencer";
    // A server name nobody runs; libjack must neither find nor start one.
    setenv("JACK_DEFAULT_SERVER", "kelvane-nobody-runs-this", 1);
    ResetPortStateForTests();
    ::testing::internal::CaptureStderr();
    const auto entries = ReadPortEntries();
    const int outcome = StartPort(1);
    const std::string printed = ::testing::internal::GetCapturedStderr();
    ResetPortStateForTests();

    EXPECT_EQ(entries, std::vector<std::string>{"(None)"});
    EXPECT_EQ(DeviceCount, 0);
    EXPECT_EQ(outcome, NoSuchDevice);
    EXPECT_EQ(printed, "");
    EXPECT_FALSE(std::filesystem::exists("/dev/shm/jack_kelvane-nobody-runs-this_" +
                                         std::to_string(getuid()) + "_0"));
}

}  // namespace
}  // namespace midi
