// `kelvane-cli ports` and `send` end to end: a JACK server of the test's own (dummy driver) with
// the recording receiver on it, and the real executable sending to it.
//
// The tests use a server of their own rather than the shared `jack` fixture: `send --port K`
// names a port by its place in the list, and on the shared server other tests' receivers come
// and go between our `ports` and our `send`, which would shift K onto their receiver. The
// server's name is fixed per build folder: JACK keeps every server name in a table of eight
// that outlives a killed server, and only a server of the same name reclaims such an entry.
// So the tests take turns (RESOURCE_LOCK in CMakeLists.txt).

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <optional>
#include <sstream>

#include "CliProcess.h"
#include "JackProcesses.h"
#include "Messages.h"
#include "JackSender.h"
#include "TempDir.h"
#include "midi/Port.h"
#include "midi/jack/JackOutput.h"

namespace {

using clitest::CliResult;
using clitest::RunCli;
using kelvane::testing::JackReceiver;
using kelvane::testing::JackTestServer;
using kelvane::testing::ReceivedEvent;
using testsupport::Bytes;
using testsupport::Concat;
using testsupport::PatternMessage;

// Everything handed over has left kelvane-cli once it exits; the receiver writes it down soon.
Bytes Received(const JackReceiver& receiver, const std::vector<Bytes>& messages) {
    return receiver.WaitForBytes(Concat(messages).size(), testsupport::Patience);
}

// The first event of each message; a message larger than the port buffer arrives as several
// events, but no event carries the end of one message and the start of the next.
std::vector<std::size_t> MessageStarts(const std::vector<ReceivedEvent>& events, const std::vector<Bytes>& messages) {
    std::vector<std::size_t> starts;
    std::size_t event = 0;
    for (const Bytes& message : messages) {
        if (event >= events.size()) break;
        starts.push_back(event);
        std::size_t taken = 0;
        while (taken < message.size() && event < events.size()) taken += events[event++].size;
        EXPECT_EQ(taken, message.size()) << "an event straddles two messages";
    }
    return starts;
}

class CliSend : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<JackTestServer>(KELVANE_CLI_JACK_SERVER, 512);
        // libjack in the receiver, in kelvane-cli and in this process finds the server by this.
        setenv("JACK_DEFAULT_SERVER", server->Name().c_str(), 1);
        receiver = std::make_unique<JackReceiver>("cli-rx");
        port = PortOf(receiver->PortName());
    }
    void TearDown() override {
        receiver.reset();
        server.reset();
    }

    // The receiver's number in the port list, as a user would read it off `ports`.
    std::string PortOf(const std::string& name, const char* list = nullptr) {
        const CliResult ports = list ? RunCli({"ports", list}) : RunCli({"ports"});
        EXPECT_EQ(ports.exitCode, 0) << ports.err;
        std::istringstream lines(ports.out);
        for (std::string line; std::getline(lines, line);) {
            const std::size_t space = line.find(' ');
            if (line.substr(space + 1) == name) return line.substr(0, space);
        }
        throw std::runtime_error(name + " is not among the ports:\n" + ports.out);
    }

    std::string Dump(const std::vector<Bytes>& messages) { return dir.Write("send.syx", Concat(messages)); }

    // Everything that reached the receiver, once nothing more is on its way: kelvane-cli has
    // exited, and a marker sent afterwards from a port of this process arrives after its bytes.
    std::optional<Bytes> AllReceived() {
        auto service = midi::MakeJackOutputService();
        const std::size_t devices = service->CountDevices();
        std::size_t device = 0;
        while (device < devices && service->DeviceName(device) != receiver->PortName()) ++device;
        midi::OpenResult opened = service->Open(device);
        EXPECT_EQ(opened.code, 0) << opened.error;
        if (opened.code != 0) return std::nullopt;
        const Bytes marker = testsupport::NewEndMarker();
        opened.port->Send(marker);
        opened.port.reset();
        EXPECT_TRUE(midi::WaitForClosedPorts(testsupport::Patience));
        return receiver->BytesBefore(marker, testsupport::Patience);
    }

    testsupport::TempDir dir;
    std::unique_ptr<JackTestServer> server;
    std::unique_ptr<JackReceiver> receiver;
    std::string port;
};

TEST_F(CliSend, PortsListsNoneThenEveryPortByNumber) {
    // What the window's selector would hold, read through the same core in this process.
    const std::vector<std::string> entries = midi::ReadPortEntries();
    ASSERT_EQ(entries.front(), "(None)");
    ASSERT_NE(std::find(entries.begin(), entries.end(), "cli-rx:in"), entries.end());
    std::string lines;
    std::string json = "{\"ports\":[";
    for (std::size_t k = 0; k < entries.size(); ++k) {
        lines += std::to_string(k) + " " + entries[k] + "\n";
        json += (k ? ",{\"index\":" : "{\"index\":") + std::to_string(k) + ",\"name\":\"" + entries[k] + "\"}";
    }
    json += "]}\n";

    const CliResult plain = RunCli({"ports"});
    EXPECT_EQ(plain.exitCode, 0);
    EXPECT_EQ(plain.err, "");
    EXPECT_EQ(plain.out, lines);
    const CliResult asJson = RunCli({"ports", "--json"});
    EXPECT_EQ(asJson.exitCode, 0);
    EXPECT_EQ(asJson.out, json);
}

// The pauses between messages and the rate are the engine's, tested on a made-up clock in
// tests/midi/transmission_test.cpp: times taken at a receiver on a busy machine prove nothing.
TEST_F(CliSend, SendsEveryMessageInOrderByteExact) {
    const std::vector<Bytes> messages{
        PatternMessage(1024, 1), {0xF0, 0x42, 0x30, 0x28, 0x40, 0xF7}, PatternMessage(300, 2), {0xF0, 0xF7}};
    const CliResult result = RunCli({"send", Dump(messages), "--port", port});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");  // not a terminal: no progress lines

    EXPECT_EQ(Received(*receiver, messages), Concat(messages));
    ASSERT_EQ(receiver->Stop(), 0);
    EXPECT_EQ(MessageStarts(receiver->Events(), messages).size(), messages.size());
}

TEST_F(CliSend, ChosenMessagesGoInTheOrderWritten) {
    const std::vector<Bytes> messages{PatternMessage(200, 1), PatternMessage(200, 2), PatternMessage(200, 3),
                                      PatternMessage(200, 4)};
    const CliResult result =
        RunCli({"send", Dump(messages), "--port", port, "--messages", "4,1-2", "--gap", "200"});
    ASSERT_EQ(result.exitCode, 0) << result.err;

    const std::vector<Bytes> chosen{messages[3], messages[0], messages[1]};
    EXPECT_EQ(Received(*receiver, chosen), Concat(chosen));
    ASSERT_EQ(receiver->Stop(), 0);
    EXPECT_EQ(MessageStarts(receiver->Events(), chosen).size(), chosen.size());
}

// Ctrl+C while a long message takes its time (a program's port has it whole at once, and the
// next waits 6.4 s): the summary and the exit status say it was stopped, also when the server
// hangs (SIGSTOP) and takes nothing more: that used to wait for the port and end as a failure.
class CliSendCtrlC : public CliSend, public ::testing::WithParamInterface<bool> {};

TEST_P(CliSendCtrlC, StopsTheSendAndSaysHowManyWentOutWhole) {
    const bool serverHangs = GetParam();
    const std::vector<Bytes> messages{PatternMessage(100, 1), PatternMessage(20000, 2), PatternMessage(100, 3)};
    clitest::CliProcess sending({"send", Dump(messages), "--port", port, "--gap", "0", "--json"});
    ASSERT_GE(receiver->WaitForBytes(100 + 20000, testsupport::Patience).size(), 20100u);
    if (serverHangs) server->Suspend();
    sending.Signal(SIGINT);
    const bool ended = sending.EndsWithin(testsupport::Patience);
    server->Resume();
    ASSERT_TRUE(ended) << "kelvane-cli waited for the suspended server";
    const CliResult result = sending.Wait();
    EXPECT_EQ(result.exitCode, 130) << result.err;
    EXPECT_EQ(result.err, "中止しました: 3 メッセージのうち 2 を送信しました\n");
    EXPECT_EQ(result.out.rfind("{\"messagesSent\":2,\"messagesTotal\":3,", 0), 0u) << result.out;
    EXPECT_NE(result.out.find(",\"cancelled\":true"), std::string::npos) << result.out;
}

INSTANTIATE_TEST_SUITE_P(Send, CliSendCtrlC, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ServerHangs" : "ServerRuns"; });

TEST_F(CliSend, NeverSendsGmSystemOnOfItsOwnAndSumsUpInJson) {
    const std::vector<Bytes> messages{{0xF0, 0x43, 0x10, 0x4C, 0x00, 0xF7}, {0xF0, 0xF7}};
    const CliResult result = RunCli({"send", Dump(messages), "--port", port, "--gap", "0", "--speed", "50", "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.rfind("{\"messagesSent\":2,\"messagesTotal\":2,\"bytes\":8,\"seconds\":", 0), 0u) << result.out;
    EXPECT_NE(result.out.find(",\"cancelled\":false}\n"), std::string::npos) << result.out;
    EXPECT_EQ(Received(*receiver, messages), Concat(messages));
    // Nothing more comes later either.
    EXPECT_EQ(AllReceived(), Concat(messages));
}

TEST_F(CliSend, APortThatFailsMidwayEndsTheSendWithItsReason) {
    const std::vector<Bytes> messages{PatternMessage(6, 1), PatternMessage(6, 2), PatternMessage(6, 3)};
    clitest::CliProcess sending({"send", Dump(messages), "--port", port, "--gap", "1500"});
    ASSERT_EQ(receiver->WaitForBytes(6, testsupport::Patience), messages[0]);
    server->Kill();  // the server goes away during the gap after the first message

    const CliResult result = sending.Wait();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "JACK サーバーが停止したため送信できません\n");
    EXPECT_EQ(result.out, "");
}

// Without a bound both commands would wait for the suspended server forever; they give it up as
// the window does (its ports are not listed) and end with status 1 and the reason.
TEST_F(CliSend, ASuspendedServerEndsPortsAndSendWithTheReason) {
    const std::string dump = Dump({PatternMessage(6, 1)});
    server->Suspend();
    const CliResult ports = RunCli({"ports"});
    const CliResult send = RunCli({"send", dump, "--port", port});
    server->Resume();
    const std::string reason = "JACK の jack_client_open が失敗しました (サーバーが応答しません)\n";
    EXPECT_EQ(ports.exitCode, 1);
    EXPECT_EQ(ports.err, reason);
    EXPECT_EQ(ports.out.rfind("0 (None)\n", 0), 0u) << ports.out;
    EXPECT_EQ(ports.out.find(receiver->PortName()), std::string::npos) << ports.out;
    EXPECT_EQ(send.exitCode, 1);
    EXPECT_EQ(send.err, reason);
}

TEST_F(CliSend, PortNumbersBeyondTheListFailBeforeAnythingIsSent) {
    const std::size_t devices = midi::ReadPortEntries().size() - 1;
    const std::string beyond = std::to_string(devices + 1);
    const CliResult result = RunCli({"send", Dump({PatternMessage(6, 1)}), "--port", beyond});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "ポート " + beyond + " はありません (1〜" + std::to_string(devices) + ")\n");
    EXPECT_EQ(AllReceived(), Bytes{});
}

// Receiving: a JACK client of the test's sends into the input that `ports --input` lists.
class CliReceive : public CliSend {
protected:
    void SetUp() override {
        CliSend::SetUp();
        sender = std::make_unique<kelvane::testing::JackSender>("cli-tx");
        input = PortOf(sender->PortName(), "--input");
    }
    void TearDown() override {
        sender.reset();
        CliSend::TearDown();
    }
    std::string Out() const { return dir.File("received.syx").string(); }

    std::unique_ptr<kelvane::testing::JackSender> sender;
    std::string input;
};

TEST_F(CliReceive, SendsTheRequestOnceListeningAndSavesEveryMessageByteExact) {
    const Bytes request{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    const std::vector<Bytes> messages{PatternMessage(65536, 1), {0xF0, 0x42, 0x30, 0x28, 0x40, 0xF7}, PatternMessage(300, 2)};
    Bytes wire{0xFE};
    for (const Bytes& m : messages) {
        wire.insert(wire.end(), m.begin(), m.end() - 1);
        wire.insert(wire.end(), {0xF8, 0xF7});  // a clock byte just before each F7
    }
    clitest::CliProcess receiving({"receive", Out(), "--port", input, "--count", "3", "--request-hex",
                                   "F0 7E 7F 06 01 F7", "--out-port", port, "--json"});
    // The reply goes out only once the request has, as a device would answer.
    ASSERT_EQ(receiver->WaitForBytes(request.size(), testsupport::Patience), request);
    sender->Send(wire);

    const CliResult result = receiving.Wait();
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(testsupport::ReadAll(Out()) == Concat(messages));
    // Clock and active sensing are no part of the dump's size.
    EXPECT_EQ(result.out, "{\"file\":\"" + Out() + "\",\"stoppedBy\":\"count\",\"receivedBytes\":" +
                              std::to_string(Concat(messages).size()) + ",\"keptBytes\":" +
                              std::to_string(Concat(messages).size()) +
                              ",\"dropped\":{\"tooLong\":0,\"cutOff\":0,\"damaged\":0,\"beyondCount\":0,"
                              "\"atLimit\":false},\"lost\":false,\"losses\":[],\"wrongChecksums\":[],\"messages\":[{\"number\":1,\"storedLength\":65535,\"line\":\"0001 65535Byte\"},"
                              "{\"number\":2,\"storedLength\":5,\"line\":\"0002 42H 5Byte\"},"
                              "{\"number\":3,\"storedLength\":299,\"line\":\"0003 299Byte\"}]}\n");
}

TEST_F(CliReceive, StopsWhenIdleAndShowsALiveCountOnATerminal) {
    const std::vector<Bytes> messages{{0xF0, 0x42, 0x30, 0x28, 0x40, 0xF7}, PatternMessage(100, 3)};
    clitest::CliOptions onTerminal;
    onTerminal.errOnTerminal = true;
    clitest::CliProcess receiving({"receive", Out(), "--port", input}, onTerminal);
    sender->Send(Concat(messages));
    const CliResult result = receiving.Wait();
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001 42H 5Byte\n0002 99Byte\n");
    const std::string last = "\r受信中: 2 メッセージ 106 バイト\r\n";
    ASSERT_GE(result.err.size(), last.size()) << result.err;
    EXPECT_EQ(result.err.substr(result.err.size() - last.size()), last);
    EXPECT_TRUE(testsupport::ReadAll(Out()) == Concat(messages));
}

TEST_F(CliReceive, TimeoutKeepsWhatWasCompleteAndTellsOfTheCutOffRest) {
    const Bytes complete{0xF0, 0x43, 0x10, 0x4C, 0x00, 0xF7};
    // Queued first, the bytes go out as soon as the program's input is connected: only the server
    // stands between them and the program, not this test's own turn on a busy machine.
    sender->Send(Concat({complete, Bytes{0xF0, 0x43, 0x10}}));
    clitest::CliProcess receiving({"receive", Out(), "--port", input, "--idle", "0", "--timeout", "2"});
    const CliResult result = receiving.Wait();
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001 5Byte\n");
    EXPECT_EQ(result.err, "途中で途切れたメッセージ (F7 がないもの) 1 件は記録しませんでした\n");
    EXPECT_EQ(testsupport::ReadAll(Out()), complete);
}

TEST_F(CliReceive, NothingReceivedSavesNothing) {
    const CliResult result = RunCli({"receive", Out(), "--port", input, "--timeout", "0.5"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "メッセージを受信しませんでした\n");
    EXPECT_FALSE(std::filesystem::exists(Out()));
}

enum class Then { Nothing, SenderLeaves, ServerStops, CtrlCWhileTheServerHangs };
enum class Target { Writable, Unwritable, FullDisk };

struct StopCase {
    const char* name;
    std::vector<std::string> options;
    int messagesSent;
    Then then;
    Target target;
    int exitCode;
    const char* stoppedBy;  // in the JSON; null when the command failed
    int kept;
    bool firstChecksumWrong = false;  // the first message a Roland DT1 whose checksum is off
};

class CliReceiveStops : public CliReceive, public ::testing::WithParamInterface<StopCase> {};

// Every way a reception ends, with the exit status and summary a script gets.
TEST_P(CliReceiveStops, EndsAsAskedAndSaysHow) {
    const StopCase& c = GetParam();
    std::vector<Bytes> messages;
    for (int k = 0; k < c.messagesSent; ++k) messages.push_back(PatternMessage(40 + k, static_cast<std::uint8_t>(k)));
    if (c.firstChecksumWrong) messages[0] = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x42, 0xF7};
    // /dev/full takes the file but fails its writes: the save fails only at the very end.
    const std::string target = c.target == Target::Unwritable ? dir.File("missing-folder/out.syx").string()
                               : c.target == Target::FullDisk ? std::string("/dev/full")
                                                               : Out();
    std::vector<std::string> args{"receive", target, "--port", input, "--json"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    // The user's own state folder, where a capture /dev refuses goes (never /dev itself).
    ::setenv("XDG_STATE_HOME", dir.File("state").c_str(), 1);
    // What follows the messages comes once the program shows it has them all, however long
    // that takes on a busy machine.
    clitest::CliOptions options;
    options.errOnTerminal = c.then != Then::Nothing;
    // Queued first, as for the timeout above.
    if (c.target != Target::Unwritable) sender->Send(Concat(messages));
    clitest::CliProcess receiving(args, options);
    ::unsetenv("XDG_STATE_HOME");
    if (c.target != Target::Unwritable) {
        if (c.then != Then::Nothing) {
            ASSERT_TRUE(receiving.Shows("受信中: " + std::to_string(messages.size()) + " メッセージ ", testsupport::Patience));
        }
        if (c.then == Then::SenderLeaves) sender.reset();
        // It used to crash in libjack's notices that follow the shutdown notice.
        if (c.then == Then::ServerStops) server->Kill(SIGTERM);
        if (c.then == Then::CtrlCWhileTheServerHangs) {
            // The input's close used to wait for the server, so nothing ended the program.
            server->Suspend();
            receiving.Signal(SIGINT);
            const bool ended = receiving.EndsWithin(testsupport::Patience);
            server->Resume();
            ASSERT_TRUE(ended) << "kelvane-cli waited for the suspended server";
        }
    }
    const CliResult result = receiving.Wait();
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    if (c.target == Target::FullDisk) {
        // The capture is in a recovery file, whose name the failure gives.
        const std::string key = "\"recoveryFile\":\"";
        const std::size_t at = result.out.find(key);
        ASSERT_NE(at, std::string::npos) << result.out;
        const std::string recovery = result.out.substr(at + key.size(), result.out.find('"', at + key.size()) - at - key.size());
        EXPECT_EQ(recovery, dir.File("state/kelvane/full.recovered.syx").string());
        EXPECT_TRUE(testsupport::ReadAll(recovery) == Concat(messages));
        return;
    }
    if (!c.stoppedBy) {
        EXPECT_EQ(result.out.rfind("{\"error\":\"" + target + " に保存できないため、受信を始めませんでした", 0), 0u)
            << result.out;
        EXPECT_FALSE(std::filesystem::exists(target));
        return;
    }
    EXPECT_NE(result.out.find(std::string("\"stoppedBy\":\"") + c.stoppedBy + "\""), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("cutOff\":0") != std::string::npos, true) << "no spurious cut-off: " << result.out;
    const std::vector<Bytes> kept(messages.begin(), messages.begin() + c.kept);
    EXPECT_TRUE(testsupport::ReadAll(Out()) == Concat(kept));
    if (c.then == Then::SenderLeaves || c.then == Then::ServerStops) {
        EXPECT_NE(result.out.find(std::string("\"lost\":true,\"losses\":[{\"cause\":\"") + c.stoppedBy + "\""),
                  std::string::npos)
            << result.out;
        EXPECT_NE(result.err.find(c.then == Then::SenderLeaves ? "送信元のポートがなくなったため、受信を終えました"
                                                               : "JACK サーバーが停止したため、受信を終えました"),
                  std::string::npos)
            << result.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Receive, CliReceiveStops,
    ::testing::Values(StopCase{"CountKeepsExactlyN", {"--count", "2", "--idle", "0"}, 5, Then::Nothing, Target::Writable, 0, "count", 2},
                      StopCase{"Idle", {"--idle", "0.3"}, 3, Then::Nothing, Target::Writable, 0, "idle", 3},
                      StopCase{"Timeout", {"--idle", "0", "--timeout", "1"}, 2, Then::Nothing, Target::Writable, 0, "timeout", 2},
                      StopCase{"CtrlCWhileTheServerHangs", {"--idle", "0"}, 2, Then::CtrlCWhileTheServerHangs, Target::Writable, 0, "interrupt", 2},
                      StopCase{"SourceGoneIsLoss", {"--idle", "0"}, 2, Then::SenderLeaves, Target::Writable, 3, "sourceGone", 2},
                      StopCase{"WrongChecksumIsDamage", {"--idle", "0.3"}, 2, Then::Nothing, Target::Writable, 3, "idle", 2, true},
                      StopCase{"ServerStopKeepsAndWritesTheCapture", {"--idle", "0"}, 2, Then::ServerStops, Target::Writable, 3, "serverGone", 2},
                      StopCase{"UnwritableTargetBeforeRecording", {"--idle", "0.3"}, 0, Then::Nothing, Target::Unwritable, 1, nullptr, 0},
                      StopCase{"FailedSaveGoesToARecoveryFile", {"--idle", "0.3"}, 2, Then::Nothing, Target::FullDisk, 1, nullptr, 2}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
