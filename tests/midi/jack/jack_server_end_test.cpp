// A JACK server that stops (SIGTERM) or dies (SIGKILL) while a reception and a send run, again
// and again: libjack goes on delivering notices after the shutdown notice, and its next open
// after a server's death closes every client still open behind our back. Nothing of ours may be
// reached after it is freed (AddressSanitizer says so), and what came in before stays.

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <future>
#include <random>
#include <thread>

#include "JackListed.h"
#include "JackProcesses.h"
#include "JackSender.h"
#include "Messages.h"
#include "midi/Input.h"
#include "midi/jack/JackInput.h"
#include "midi/jack/JackOutput.h"
#include "sysex/Reception.h"
#include "sysex/Store.h"

namespace midi {
namespace {

using kelvane::testing::JackReceiver;
using kelvane::testing::JackSender;
using kelvane::testing::OwnJackServer;
using kelvane::testing::WaitUntil;
using testsupport::Bytes;
using testsupport::PatternMessage;
using namespace std::chrono_literals;

constexpr auto Patience = 2min;
// Half stopped, half killed.
constexpr int Rounds = 24;

std::string UniqueName(const char* stem) {
    static std::atomic<int> counter{0};
    return std::string(stem) + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

TEST(JackServerEnd, StoppedOrKilledDuringAReceptionAndASendKeepsTheCaptureAndCrashesNothing) {
    // The driver's ports are unregistered after the shutdown notice, a notice each.
    OwnJackServer own("-end", 64);
    std::mt19937 random(20261208);
    for (int round = 0; round < Rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        sysex::ResetStoreForTests();
        JackReceiver receiver(UniqueName("end-rx"));
        auto sender = std::make_unique<JackSender>(UniqueName("end-tx"));
        auto inputs = MakeJackInputService();
        auto outputs = MakeJackOutputService();
        sysex::Reception reception;
        InputOpenResult input =
            inputs->Open(kelvane::testing::ListedDevice(*inputs, sender->PortName()), ReceiverFor(reception));
        ASSERT_EQ(input.code, 0) << input.error;
        OpenResult output = outputs->Open(kelvane::testing::ListedDevice(*outputs, receiver.PortName()));
        ASSERT_EQ(output.code, 0) << output.error;

        const std::vector<Bytes> complete{PatternMessage(300, 1), PatternMessage(5000, 2), PatternMessage(40, 3)};
        for (const Bytes& message : complete) sender->Send(message);
        ASSERT_TRUE(WaitUntil([&] { return reception.Now().messages == 3; }, Patience));
        // Under way when the server goes: a long message in, a bank out.
        sender->Send(PatternMessage(1 << 20, 4));
        for (std::uint8_t k = 0; k < 8; ++k) output.port->Send(PatternMessage(20000, k));
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 200));
        // Not waiting for the server's end here: a stopping server tells its clients first.
        auto ending = std::async(std::launch::async, [&] { own.Server().Kill(round % 2 == 0 ? SIGTERM : SIGKILL); });

        // The input closes the moment it tells of the end (a user who stops then, or kelvane-cli
        // a poll later), while libjack still delivers the notices that follow the server's
        // shutdown notice: the driver's ports going away. So no WaitUntil's pause here.
        const auto bound = std::chrono::steady_clock::now() + Patience;
        while (!reception.Now().ended && std::chrono::steady_clock::now() < bound) std::this_thread::yield();
        EXPECT_TRUE(reception.Now().ended);
        input.port.reset();
        ending.get();
        // The test's own client goes before any open of ours, within which libjack would close it.
        sender.reset();
        // A listing opens a client: libjack's moment to close every client left open.
        EXPECT_EQ(inputs->CountDevices(), 0u);
        output.port->Send(PatternMessage(10, 9));
        EXPECT_TRUE(output.port->WaitUntilSent(Patience));
        EXPECT_GE(output.port->Status().failed, 1u);
        output.port.reset();
        ASSERT_TRUE(WaitForClosedPorts(Patience));

        ASSERT_TRUE(reception.Now().ended);
        const sysex::ReceptionSummary summary = reception.MoveIntoStore();
        ASSERT_EQ(sysex::SysExCount, 3);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(Bytes(sysex::SysExData[k], sysex::SysExData[k] + sysex::SysExLen[k] + 1), complete[k]);
        }
        EXPECT_EQ(summary.losses.Times(sysex::LossCause::ServerGone), 1u);
        receiver.Stop();
        own.Server().Restart();
    }
}

}  // namespace
}  // namespace midi
