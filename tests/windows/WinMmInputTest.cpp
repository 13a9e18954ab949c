// The WinMM input. Under Wine there is no MIDI device, so a stand-in driver behind WinMmInApi
// plays one: it fills the queued buffers with what a device sends, hands each back through the
// callback as WinMM does, and delivers short messages one by one. It waits for a buffer when it
// has none, and counts how often it had to.

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FakeWinMm.h"
#include "Messages.h"
#include "midi/winmm/WinMmInput.h"

namespace {

using testsupport::Bytes;
using namespace std::chrono_literals;

using wintest::FakeInDriver;

struct Collected {
    std::mutex mutex;
    Bytes bytes;
};

TEST(WinMmInput, BuffersAreQueuedAgainSoALongBurstArrivesWholeAndInOrder) {
    auto driver = std::make_shared<FakeInDriver>();
    auto service = midi::MakeWinMmInputService(driver);
    ASSERT_EQ(service->CountDevices(), 1u);
    EXPECT_EQ(service->DeviceName(0), "Keys");
    Collected got;
    midi::InputOpenResult opened = service->Open(0, [&](std::span<const std::uint8_t> bytes) {
        std::lock_guard lock(got.mutex);
        got.bytes.insert(got.bytes.end(), bytes.begin(), bytes.end());
    });
    ASSERT_EQ(opened.code, 0) << opened.error;

    // 100 messages back to back, the largest 64 KiB, with a clock byte inside each and a note
    // between some: several times all the buffers there are.
    std::vector<FakeInDriver::Item> items;
    Bytes expected;
    for (std::size_t k = 0; k < 100; ++k) {
        const Bytes m = testsupport::PatternMessage(k == 40 ? 65536 : 6 + (k * 997) % 12000, static_cast<std::uint8_t>(k));
        const auto half = m.begin() + static_cast<long>(m.size() / 2);
        items.push_back({Bytes(m.begin(), half)});
        items.push_back({{0xF8}, true});
        items.push_back({Bytes(half, m.end())});
        expected.insert(expected.end(), m.begin(), half);
        expected.push_back(0xF8);
        expected.insert(expected.end(), half, m.end());
        if (k % 25 == 0) {
            items.push_back({{0x90, 0x3C, 0x40}, true});
            expected.insert(expected.end(), {0x90, 0x3C, 0x40});
        }
    }
    std::thread device([&] { driver->Play(items); });
    device.join();
    opened.port.reset();

    EXPECT_TRUE(got.bytes == expected) << got.bytes.size() << " of " << expected.size() << " bytes";
    EXPECT_GT(driver->adds, static_cast<int>(midi::InputBufferCount) * 10);
    const std::vector<std::string> log = driver->Log();
    const std::vector<std::string> expectedLog{"midiInOpen 0 flags " + std::to_string(CALLBACK_FUNCTION), "midiInStart",
                                               "midiInStop", "midiInReset",
                                               "all buffers unprepared", "midiInClose"};
    EXPECT_EQ(log, expectedLog);
}

TEST(WinMmInput, RefusedOpensGiveTheCodeAndNoPort) {
    auto driver = std::make_shared<FakeInDriver>();
    driver->openResult = MMSYSERR_ALLOCATED;
    auto service = midi::MakeWinMmInputService(driver);
    service->CountDevices();
    const midi::InputOpenResult busy = service->Open(0, [](std::span<const std::uint8_t>) {});
    EXPECT_EQ(busy.code, MMSYSERR_ALLOCATED);
    EXPECT_FALSE(busy.port);
    EXPECT_NE(busy.error.find("midiInOpen"), std::string::npos) << busy.error;

    // Wine's own WinMM: whatever it lists, one beyond the list does not open.
    auto system = midi::MakeWinMmInputService();
    const std::size_t count = system->CountDevices();
    const midi::InputOpenResult beyond = system->Open(count, [](std::span<const std::uint8_t>) {});
    EXPECT_NE(beyond.code, 0);
    EXPECT_FALSE(beyond.port);
}

}  // namespace
