// A JACK server that hangs (SIGSTOP) must cost neither a wait without end nor a thread per
// attempt: each test suspends a server of its own and shows the call ended before it resumed.

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <future>

#include "JackListed.h"
#include "JackProcesses.h"
#include "JackSender.h"
#include "Messages.h"
#include "midi/jack/JackInput.h"
#include "midi/jack/JackOutput.h"
#include "sysex/Reception.h"

namespace midi {
namespace {

using kelvane::testing::JackReceiver;
using kelvane::testing::JackSender;
using kelvane::testing::OwnJackServer;
using kelvane::testing::WaitUntil;
using namespace std::chrono_literals;

// Far beyond any bound of ours, far short of "until the server answers".
constexpr auto Patience = 2min;

std::string UniqueName(const char* stem) {
    static std::atomic<int> counter{0};
    return std::string(stem) + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

std::size_t ThreadCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) ++count;
    return count;
}

template <typename Service>
std::size_t DeviceNamed(Service& service, const std::string& name) {
    return kelvane::testing::ListedDevice(service, name);
}

TEST(JackHang, ClosingAnInputReturnsAtOnceAndKeepsWhatCame) {
    OwnJackServer own("-hang-close");
    JackSender sender(UniqueName("hang-tx"));
    auto service = MakeJackInputService();
    sysex::Reception reception;
    InputOpenResult opened = service->Open(DeviceNamed(*service, sender.PortName()),
                                           [&](std::span<const std::uint8_t> bytes) { reception.Feed(bytes); });
    ASSERT_EQ(opened.code, 0) << opened.error;
    sender.Send(testsupport::PatternMessage(300, 1));
    ASSERT_TRUE(WaitUntil([&] { return reception.Now().messages == 1; }, Patience));

    own.Server().Suspend();
    auto closing = std::async(std::launch::async, [&] { opened.port.reset(); });
    const bool closed = closing.wait_for(Patience) == std::future_status::ready;
    own.Server().Resume();
    closing.wait();
    EXPECT_TRUE(closed) << "the close waited for the suspended server";
    EXPECT_EQ(reception.Now().messages, 1);
    EXPECT_TRUE(WaitForClosedPorts(Patience));
}

// Listings and opens of both directions, 20 in all: each used to start a thread that queued
// behind the first and stayed while the server hung.
TEST(JackHang, AttemptsAgainstASuspendedServerGatherNoThreadsAndLeaveNoneBehind) {
    OwnJackServer own("-hang-storm");
    JackSender sender(UniqueName("hang-tx"));
    JackReceiver receiver(UniqueName("hang-rx"));
    auto outputs = MakeJackOutputService();
    auto inputs = MakeJackInputService();
    const std::size_t device = DeviceNamed(*outputs, receiver.PortName());
    const std::size_t source = DeviceNamed(*inputs, sender.PortName());
    ASSERT_TRUE(WaitForClosedPorts(Patience));
    ASSERT_TRUE(WaitUntil([&] {
        const std::size_t now = ThreadCount();
        std::this_thread::sleep_for(100ms);
        return ThreadCount() == now;
    }, Patience));
    const std::size_t before = ThreadCount();

    own.Server().Suspend();
    for (int round = 0; round < 5; ++round) {
        outputs->CountDevices();
        inputs->CountDevices();
        EXPECT_NE(outputs->Open(device).code, 0);
        EXPECT_NE(inputs->Open(source, [](std::span<const std::uint8_t>) {}).code, 0);
    }
    const std::size_t during = ThreadCount();
    own.Server().Resume();
    EXPECT_LE(during, before + 2);
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= before; }, Patience)) << ThreadCount() << " > " << before;
    EXPECT_TRUE(WaitForClosedPorts(Patience));
}

}  // namespace
}  // namespace midi
