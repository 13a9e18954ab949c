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
#include <map>
#include <set>
#include <optional>
#include <sstream>
#include <thread>

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
using kelvane::testing::WaitUntil;
using testsupport::Append;
using testsupport::Bytes;
using testsupport::Concat;
using testsupport::PatternMessage;
using namespace std::chrono_literals;

// Everything handed over has left kelvane-cli once it exits; the receiver writes it down soon.
Bytes Received(const JackReceiver& receiver, const std::vector<Bytes>& messages) {
    return receiver.WaitForBytes(Concat(messages).size(), 2min);
}

// Each message arrives as events of its own, none shared with the next: a program reads one
// message as one. (How far apart they arrive is timing, measured by
// kelvane_bench_midi_transmission, never asserted: a busy machine stamps arrivals late.)
void ExpectEventsKeepMessagesApart(const std::vector<ReceivedEvent>& events, const std::vector<Bytes>& messages) {
    std::size_t event = 0;
    for (const Bytes& message : messages) {
        std::size_t taken = 0;
        while (taken < message.size() && event < events.size()) taken += events[event++].size;
        EXPECT_EQ(taken, message.size()) << "an event straddles two messages";
    }
    EXPECT_EQ(event, events.size());
}

// On a busy machine a receiving kelvane-cli may miss cycles of the server (a 2-core machine
// with a dozen busy processes holds it up for tens of milliseconds), and then says that data may
// have been lost: exit 3, a "missedCycles" loss in the JSON, a line on stderr. Its own test
// shows that; the others are about something else and allow that notice alone, taking it out
// here. Whatever they check of the saved bytes still holds, as a cycle that carried nothing
// lost nothing.
// `missed` (when given) tells whether the notice was there: a message still open across such a
// cycle is dropped as damaged rather than as cut off.
CliResult WithoutMissedCycles(CliResult result, bool* missed = nullptr) {
    const std::size_t at = result.err.find("JACK の処理周期に間に合わなかったため");
    if (missed) *missed = at != std::string::npos;
    if (at == std::string::npos) return result;
    const std::size_t start = result.err.rfind('\n', at) == std::string::npos ? 0 : result.err.rfind('\n', at) + 1;
    const std::size_t end = result.err.find('\n', at);
    result.err.erase(start, end == std::string::npos ? std::string::npos : end + 1 - start);
    if (const std::size_t entry = result.out.find("{\"cause\":\"missedCycles\""); entry != std::string::npos) {
        const std::size_t close = result.out.find("\"}", entry) + 2;
        if (result.out[entry - 1] == ',') {
            result.out.erase(entry - 1, close - entry + 1);
        } else {
            result.out.erase(entry, close - entry + (result.out[close] == ',' ? 1 : 0));
        }
        const std::string lostOnly = "\"lost\":true,\"losses\":[]";
        if (const std::size_t lost = result.out.find(lostOnly); lost != std::string::npos) {
            result.out.replace(lost, lostOnly.size(), "\"lost\":false,\"losses\":[]");
        }
    }
    // The JSON says whether anything else was lost; without it, the lines on stderr do.
    const bool json = result.out.find("\"lost\":") != std::string::npos;
    const bool otherLoss = json ? result.out.find("\"lost\":true") != std::string::npos ||
                                      result.out.find("\"wrongChecksums\":[]") == std::string::npos
                                : result.err.find("失われ") != std::string::npos ||
                                      result.err.find("欠け") != std::string::npos ||
                                      result.err.find("チェックサム") != std::string::npos;
    if (result.exitCode == 3 && !otherLoss) result.exitCode = 0;
    return result;
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
    ExpectEventsKeepMessagesApart(receiver->Events(), messages);
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
    ExpectEventsKeepMessagesApart(receiver->Events(), chosen);
}

// The sending kelvane-cli held up (SIGSTOP, as a loaded machine would hold it) three times during
// a 4 MiB send: the runs of its JACK client that came too late for their cycles are found and
// the messages they carried named, to be sent again with --messages; every message not named
// arrived whole and in order.
TEST_F(CliSend, MissedCyclesNameTheMessagesInDoubt) {
    std::vector<Bytes> messages;
    for (unsigned k = 0; k < 64; ++k) messages.push_back(PatternMessage(65536, k + 1));
    clitest::CliProcess sending({"send", Dump(messages), "--port", port, "--gap", "0", "--speed", "max", "--json"});
    for (const std::size_t arrived : {512'000u, 1'536'000u, 2'560'000u}) {
        // On a loaded machine more may be lost than a hold costs, and the send end early.
        const bool ended = !WaitUntil([&] {
            return std::filesystem::file_size(receiver->BytesPath()) >= arrived || sending.EndsWithin(0ms);
        }, 2min) || sending.EndsWithin(0ms);
        if (ended) break;
        sending.Signal(SIGSTOP);
        std::this_thread::sleep_for(120ms);
        sending.Signal(SIGCONT);
    }
    const CliResult result = sending.Wait();
    EXPECT_EQ(result.exitCode, 3) << result.err;
    const std::string key = "\"inDoubt\":[";
    const std::size_t at = result.out.find(key);
    ASSERT_NE(at, std::string::npos) << result.out;
    const std::string list = result.out.substr(at + key.size(), result.out.find(']', at) - at - key.size());
    EXPECT_FALSE(list.empty()) << result.out;
    EXPECT_NE(result.err.find("(送り直すには --messages " + list + ")"), std::string::npos) << result.err;
    std::set<std::size_t> named;
    std::istringstream numbers(list);
    for (std::string number; std::getline(numbers, number, ',');) named.insert(std::stoul(number));

    const std::optional<Bytes> received = AllReceived();
    ASSERT_TRUE(received);
    auto from = received->begin();
    for (std::size_t k = 0; k < messages.size(); ++k) {
        if (named.count(k + 1)) continue;
        const auto found = std::search(from, received->end(), messages[k].begin(), messages[k].end());
        ASSERT_NE(found, received->end()) << "message " << k + 1 << " was not named, yet did not arrive whole";
        from = found + static_cast<std::ptrdiff_t>(messages[k].size());
    }
    RecordProperty("inDoubt", list);
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

    const CliResult result = WithoutMissedCycles(receiving.Wait());
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
    const CliResult result = WithoutMissedCycles(receiving.Wait());
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
    bool missed = false;
    const CliResult result = WithoutMissedCycles(receiving.Wait(), &missed);
    ASSERT_EQ(result.exitCode, missed ? 3 : 0) << result.err;
    EXPECT_EQ(result.out, "0001 5Byte\n");
    EXPECT_EQ(result.err, missed ? "受信中にデータが欠けたメッセージ 1 件は記録しませんでした\n"
                                 : "途中で途切れたメッセージ (F7 がないもの) 1 件は記録しませんでした\n");
    EXPECT_EQ(testsupport::ReadAll(Out()), complete);
}

TEST_F(CliReceive, NothingReceivedSavesNothing) {
    const CliResult result = WithoutMissedCycles(RunCli({"receive", Out(), "--port", input, "--timeout", "0.5"}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "メッセージを受信しませんでした\n");
    EXPECT_FALSE(std::filesystem::exists(Out()));
}

// A receiver held up for a while (SIGSTOP, as a busy machine, a swap-in or a debugger would
// hold it) misses the server's cycles meanwhile, and their events. Each hold falls inside a
// stream far longer than itself, so messages are cut at both of its ends: whatever is saved is a
// message that was sent, whole and in order, and the loss is told.
TEST_F(CliReceive, MissedCyclesAreToldAndNoMessageIsSavedWithAHole) {
    clitest::CliProcess receiving({"receive", Out(), "--port", input, "--idle", "0", "--json"});
    std::vector<Bytes> sent;
    std::map<Bytes, std::size_t> numbers;
    for (int hold = 0; hold < 3; ++hold) {
        // Some 500 KB: several times what the server carries in the 120 ms of the hold.
        Bytes burst;
        for (int k = 0; k < 400; ++k) {
            sent.push_back(PatternMessage(1000 + static_cast<std::size_t>(k % 97), static_cast<unsigned>(sent.size() + 1)));
            numbers[sent.back()] = sent.size() - 1;
            Append(burst, sent.back());
        }
        sender->Send(burst);
        std::this_thread::sleep_for(20ms);  // the stream has begun
        receiving.Signal(SIGSTOP);
        std::this_thread::sleep_for(120ms);
        receiving.Signal(SIGCONT);
        ASSERT_TRUE(WaitUntil([&] { return sender->AllSent(); }, 2min));
    }
    std::this_thread::sleep_for(300ms);  // the last bytes reach the input first
    receiving.Signal(SIGINT);
    const CliResult result = receiving.Wait();

    EXPECT_EQ(result.exitCode, 3) << result.err;
    EXPECT_NE(result.out.find("\"lost\":true"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("{\"cause\":\"missedCycles\""), std::string::npos) << result.out;
    EXPECT_NE(result.err.find("JACK の処理周期に間に合わなかったため、データが"), std::string::npos) << result.err;
    const Bytes saved = testsupport::ReadAll(Out());
    std::size_t next = 0;  // saved messages keep the order they were sent in
    std::size_t kept = 0;
    for (auto from = saved.begin(); from != saved.end();) {
        const auto end = std::find(from, saved.end(), 0xF7);
        ASSERT_NE(end, saved.end());
        const Bytes message(from, end + 1);
        const auto found = numbers.find(message);
        ASSERT_NE(found, numbers.end()) << "message " << kept + 1 << " (" << message.size()
                                        << " bytes) was never sent: it was saved with a hole";
        EXPECT_GE(found->second, next);
        next = found->second + 1;
        ++kept;
        from = end + 1;
    }
    RecordProperty("kept", static_cast<int>(kept));  // of 1,200 sent; what the holds cost varies
}

enum class Then { Nothing, SenderLeaves, SenderLeavesMidMessage, ServerStops, CtrlCWhileTheServerHangs };
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
    if (c.target != Target::Unwritable) {
        sender->Send(Concat(messages));
        if (c.then == Then::SenderLeavesMidMessage) sender->Send({0xF0, 0x43, 0x10});
    }
    clitest::CliProcess receiving(args, options);
    ::unsetenv("XDG_STATE_HOME");
    if (c.target != Target::Unwritable) {
        if (c.then != Then::Nothing) {
            // The cut message's first bytes count as received, so the line shows them too.
            const std::size_t bytes = Concat(messages).size() + (c.then == Then::SenderLeavesMidMessage ? 3 : 0);
            ASSERT_TRUE(receiving.Shows("受信中: " + std::to_string(messages.size()) + " メッセージ " +
                                            std::to_string(bytes) + " バイト",
                                        testsupport::Patience));
        }
        if (c.then == Then::SenderLeaves || c.then == Then::SenderLeavesMidMessage) sender.reset();
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
    bool missed = false;
    const CliResult result = WithoutMissedCycles(receiving.Wait(), &missed);
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
    const bool cut = c.then == Then::SenderLeavesMidMessage;
    EXPECT_NE(result.out.find(!cut ? "cutOff\":0" : missed ? "damaged\":1" : "cutOff\":1"), std::string::npos)
        << result.out;
    const std::vector<Bytes> kept(messages.begin(), messages.begin() + c.kept);
    EXPECT_TRUE(testsupport::ReadAll(Out()) == Concat(kept));
    // A source that leaves after its last whole message has finished: said, but no loss.
    if (c.then == Then::SenderLeaves) {
        EXPECT_NE(result.out.find("\"lost\":false,\"losses\":[]"), std::string::npos) << result.out;
    }
    if (c.then == Then::SenderLeavesMidMessage || c.then == Then::ServerStops) {
        EXPECT_NE(result.out.find(std::string("\"lost\":true,\"losses\":[{\"cause\":\"") + c.stoppedBy + "\""),
                  std::string::npos)
            << result.out;
    }
    if (c.then == Then::SenderLeaves || c.then == Then::SenderLeavesMidMessage || c.then == Then::ServerStops) {
        EXPECT_NE(result.err.find(c.then == Then::ServerStops ? "JACK サーバーが停止したため、受信を終えました"
                                                              : "送信元のポートがなくなったため、受信を終えました"),
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
                      StopCase{"SourceGoneAfterItsLastMessageEndsIt", {"--idle", "0"}, 2, Then::SenderLeaves, Target::Writable, 0, "sourceGone", 2},
                      StopCase{"SourceGoneMidMessageIsLoss", {"--idle", "0"}, 2, Then::SenderLeavesMidMessage, Target::Writable, 3, "sourceGone", 2},
                      StopCase{"WrongChecksumIsDamage", {"--idle", "0.3"}, 2, Then::Nothing, Target::Writable, 3, "idle", 2, true},
                      StopCase{"ServerStopKeepsAndWritesTheCapture", {"--idle", "0"}, 2, Then::ServerStops, Target::Writable, 3, "serverGone", 2},
                      StopCase{"UnwritableTargetBeforeRecording", {"--idle", "0.3"}, 0, Then::Nothing, Target::Unwritable, 1, nullptr, 0},
                      StopCase{"FailedSaveGoesToARecoveryFile", {"--idle", "0.3"}, 2, Then::Nothing, Target::FullDisk, 1, nullptr, 2}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
