// kelvane-cli's commands on Windows, run as the program runs them (cli::Run) on real files, with
// MIDI going to stand-in WinMM drivers behind the backends' seams: dumps beyond the store's first
// block listed, saved and sent whole, a speed beyond the cable's, device numbers rewritten,
// identify's request and a request built by name, checksums fixed in the file itself, and where a capture goes that its
// target refused.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FakeWinMm.h"
#include "Files.h"
#include "Messages.h"
#include "TempDir.h"
#include "WinFiles.h"
#include "cli/Commands.h"
#include "cli/Recovery.h"
#include "midi/Input.h"
#include "midi/Port.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace {

using testsupport::Bytes;
using namespace std::chrono_literals;

struct Ran {
    int code;
    std::string out, err;
};

// One run of the program over the stand-in drivers, each with one device; afterwards every port
// is closed (what was handed over is delivered first) and the state is as at the start.
class CliOnWindows : public ::testing::Test {
protected:
    void SetUp() override {
        output->devices = {{"Synth A"}};
        midi::InstallOutputService(midi::MakeWinMmOutputService(output));
        midi::InstallInputService(midi::MakeWinMmInputService(input));
    }
    void TearDown() override {
        midi::ResetPortStateForTests();
        midi::ResetInputStateForTests();
        sysex::ResetStoreForTests();
    }

    Ran Run(std::vector<std::string> args) {
        for (std::string& arg : args) {
            if (arg.rfind("{dir}", 0) == 0) arg = wintest::Utf8(dir.Path()) + arg.substr(5);
        }
        std::ostringstream out, err;
        const int code = cli::Run(args, out, err, false);
        midi::MidiOutHandle.reset();
        EXPECT_TRUE(midi::WaitForClosedPorts(120s));
        sysex::ResetStoreForTests();
        return {code, out.str(), err.str()};
    }

    // The bytes the output driver has read off the blocks it finished, in order.
    Bytes Sent() {
        Bytes bytes;
        for (const std::string& line : output->TakeLog()) {
            if (line.rfind("sent: ", 0) != 0) continue;
            for (std::size_t at = 6; at < line.size(); at += 3) {
                bytes.push_back(static_cast<std::uint8_t>(std::stoi(line.substr(at, 2), nullptr, 16)));
            }
        }
        return bytes;
    }

    std::shared_ptr<wintest::FakeDriver> output = std::make_shared<wintest::FakeDriver>();
    std::shared_ptr<wintest::FakeInDriver> input = std::make_shared<wintest::FakeInDriver>();
    const testsupport::TempDir dir;
};

Bytes Joined(const std::vector<Bytes>& messages) {
    Bytes all;
    for (const Bytes& m : messages) all.insert(all.end(), m.begin(), m.end());
    return all;
}

// 1,500 short messages, each different: beyond the store's block of 1,000.
std::vector<Bytes> ManyMessages() {
    std::vector<Bytes> messages;
    for (unsigned k = 0; k < 1500; ++k) {
        messages.push_back({0xF0, 0x7D, static_cast<std::uint8_t>(k >> 7), static_cast<std::uint8_t>(k & 0x7F), 0xF7});
    }
    return messages;
}

const Bytes RolandDataSet{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
const Bytes GmSystemOn{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};

TEST_F(CliOnWindows, SendsThroughWinMmWhatWasAskedWhole) {
    const struct {
        const char* what;
        std::vector<Bytes> dump;
        std::vector<std::string> args;
        int code;
        std::vector<Bytes> sent;   // what the driver reads, in order
        const char* outHolds;      // a piece of standard output
    } rows[] = {
        {"1,500 messages at 1000 % of the cable's rate", ManyMessages(),
         {"send", "{dir}\\dump.syx", "--port", "1", "--speed", "1000", "--gap", "0", "--json"}, 0, ManyMessages(),
         "{\"messagesSent\":1500,\"messagesTotal\":1500,\"bytes\":7500,"},
        {"a message of 70,000 bytes, as fast as the port takes it", {testsupport::PatternMessage(70000, 3)},
         {"send", "{dir}\\dump.syx", "--port", "Synth A", "--speed", "max", "--json"}, 0,
         {testsupport::PatternMessage(70000, 3)}, "{\"messagesSent\":1,\"messagesTotal\":1,\"bytes\":70000,"},
        {"--device-id 11H: Roland's number changes, the broadcast stays", {RolandDataSet, GmSystemOn},
         {"send", "{dir}\\dump.syx", "--port", "1", "--device-id", "11H", "--gap", "0"}, 0,
         {{0xF0, 0x41, 0x11, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}, GmSystemOn}, ""},
        {"receive --request-name: the request built from its parameters goes out first", {},
         {"receive", "{dir}\\got.syx", "--port", "Keys", "--request-name", "roland-rq1", "device=10", "model=42",
          "address=400000", "size=00007F", "--out-port", "1", "--timeout", "0.1"},
         1, {{0xF0, 0x41, 0x10, 0x42, 0x11, 0x40, 0x00, 0x00, 0x00, 0x00, 0x7F, 0x41, 0xF7}}, ""},
        {"identify: the Identity Request goes out, nothing answers", {},
         {"identify", "--port", "1", "--input", "Keys", "--wait", "0"}, 1, {{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}}, ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        dir.Write("dump.syx", Joined(r.dump));
        const Ran ran = Run(r.args);
        EXPECT_EQ(ran.code, r.code) << ran.err;
        EXPECT_NE(ran.out.find(r.outHolds), std::string::npos) << ran.out;
        const Bytes sent = Sent();
        const Bytes expected = Joined(r.sent);
        EXPECT_EQ(sent.size(), expected.size());
        EXPECT_TRUE(sent == expected) << "the bytes the driver read differ";
    }
}

TEST_F(CliOnWindows, DumpsBeyondTheFirstBlockAreListedAndSavedWhole) {
    const struct {
        const char* what;
        std::vector<Bytes> dump;
        std::size_t lines;
        const char* lastLine;
    } rows[] = {
        {"1,500 messages", ManyMessages(), 1500, "1500 4Byte"},
        {"one message of 70,000 bytes", {testsupport::PatternMessage(70000, 5)}, 1, "0001 "},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        dir.Write("big.syx", Joined(r.dump));
        const Ran listed = Run({"list", "{dir}\\big.syx"});
        ASSERT_EQ(listed.code, 0) << listed.err;
        std::vector<std::string> lines;
        std::istringstream text(listed.out);
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        ASSERT_EQ(lines.size(), r.lines);
        EXPECT_EQ(lines.back().rfind(r.lastLine, 0), 0u) << lines.back();
        // Saved as a Standard MIDI File and read back: the same list.
        const Ran saved = Run({"export", "{dir}\\big.syx", "{dir}\\big.mid"});
        ASSERT_EQ(saved.code, 0) << saved.err;
        const Ran again = Run({"list", "{dir}\\big.mid"});
        EXPECT_EQ(again.code, 0) << again.err;
        EXPECT_TRUE(again.out == listed.out) << "the saved file lists otherwise";
    }
}

// check --fix FILE FILE: exactly the wrong checksum byte changes, in the file itself; what lies
// between the messages stays.
TEST_F(CliOnWindows, CheckFixesTheChecksumInTheFileItself) {
    Bytes wrong = RolandDataSet;
    wrong[9] = 0x42;
    Bytes file = Joined({wrong, {0x00, 0x11}, GmSystemOn});
    const std::string path = dir.Write("fix me.syx", file);
    EXPECT_EQ(Run({"check", "{dir}\\fix me.syx"}).code, 1);
    const Ran fixed = Run({"check", "{dir}\\fix me.syx", "--fix", "{dir}\\fix me.syx"});
    EXPECT_EQ(fixed.code, 0) << fixed.err;
    file[9] = 0x41;
    EXPECT_EQ(testsupport::ReadAll(path), file);
    EXPECT_EQ(Run({"check", "{dir}\\fix me.syx"}).code, 0);
}

// Where a capture goes on Windows when its target refuses it at the last moment: the user's
// local application data (%LOCALAPPDATA%\kelvane), always as a new file; without that folder it
// is not saved, and the caller says so.
TEST(CliRecoveryOnWindows, CaptureGoesToTheUsersLocalApplicationData) {
    const Bytes capture = GmSystemOn;
    const wchar_t* before = ::_wgetenv(L"LOCALAPPDATA");
    const std::wstring saved = before ? before : L"";
    const struct {
        const char* what;
        bool localAppData;
        bool firstNameTaken;
        const char* expected;  // {local} for the folder LOCALAPPDATA names
    } rows[] = {
        {"a file target", true, false, "{local}\\kelvane\\out.syx.recovered.syx"},
        {"the first name taken already", true, true, "{local}\\kelvane\\out.syx.recovered-2.syx"},
        {"no local application data", false, false, ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const testsupport::TempDir dir;
        const std::filesystem::path local = dir.File("Local");
        std::filesystem::create_directory(local);
        ASSERT_EQ(::_wputenv_s(L"LOCALAPPDATA", r.localAppData ? local.c_str() : L""), 0);
        if (r.firstNameTaken) {
            std::filesystem::create_directory(local / "kelvane");
            wintest::WriteWholeFile(local / "kelvane" / "out.syx.recovered.syx", {0x01});
        }
        sysex::ResetStoreForTests();
        sysex::ScanDump(capture.data(), capture.size());
        const std::string path = cli::SaveRecoveryDump(wintest::Utf8(dir.File("out.syx")));
        std::string expected = r.expected;
        if (const auto at = expected.find("{local}"); at != std::string::npos) {
            expected.replace(at, 7, wintest::Utf8(local));
        }
        EXPECT_EQ(path, expected);
        if (!path.empty()) {
            EXPECT_EQ(testsupport::ReadAll(std::filesystem::path(std::u8string(path.begin(), path.end()))), capture);
        }
        EXPECT_FALSE(std::filesystem::exists(dir.File("out.syx")));
    }
    ::_wputenv_s(L"LOCALAPPDATA", saved.c_str());
    sysex::ResetStoreForTests();
}

}  // namespace
