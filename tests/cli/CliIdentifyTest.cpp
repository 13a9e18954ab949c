// `kelvane-cli identify` end to end: the real executable asks a JACK client that answers the
// Identity Request as an instrument does, on a server of the test's own (see CliSendTest.cpp
// for why the CLI tests take turns on one).

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "JackProcesses.h"

namespace {

using clitest::CliResult;
using clitest::RunCli;
using kelvane::testing::JackResponder;
using kelvane::testing::JackTestServer;

class CliIdentify : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<JackTestServer>(KELVANE_CLI_JACK_SERVER, 512);
        setenv("JACK_DEFAULT_SERVER", server->Name().c_str(), 1);
    }
    void TearDown() override { server.reset(); }

    std::unique_ptr<JackTestServer> server;
};

TEST_F(CliIdentify, ListsEveryReplyOnceAndFailsWhenNoValidOneCame) {
    const std::vector<std::uint8_t> roland{0xF0, 0x7E, 0x10, 0x06, 0x02, 0x41, 0x42, 0x02, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0xF7};
    {
        // Two units answer in one cycle, the first one twice: a Roland (one-byte maker) and one of
        // a three-byte maker.
        const JackResponder instrument(
            "synth", {roland, roland,
                      {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x00, 0x20, 0x33, 0x0A, 0x00, 0x05, 0x02, 0x00, 0x00, 0x01, 0x00, 0xF7}});
        const CliResult result = RunCli({"identify", "--port", instrument.InputName(), "--input",
                                         instrument.OutputName(), "--wait", "1", "--json"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        const std::string rolandHead = R"({"deviceId":16,"manufacturer":)";
        const std::string rolandRest =
            R"(,"manufacturerId":"41","family":322,"familyCode":"42 02","member":0,"memberCode":"00 00","version":"01 02 03 04"})";
        const std::string access = R"({"deviceId":0,"manufacturer":)";
        const std::string accessRest =
            R"(,"manufacturerId":"00 20 33","family":10,"familyCode":"0A 00","member":261,"memberCode":"05 02","version":"00 00 01 00"})";
        // The makers' names are the makers table's.
        EXPECT_EQ(result.out.rfind(R"({"replies":[)" + rolandHead, 0), 0u) << result.out;
        EXPECT_NE(result.out.find(rolandRest + "," + access), std::string::npos) << result.out;
        EXPECT_NE(result.out.find(accessRest + R"(],"malformed":[]})" + "\n"), std::string::npos) << result.out;
    }
    {
        // An answer came, but one byte short: the device is there, its reply is wrong.
        std::vector<std::uint8_t> shortReply(roland.begin(), roland.end() - 2);
        shortReply.push_back(0xF7);
        const JackResponder shortOne("short", {shortReply});
        const CliResult result =
            RunCli({"identify", "--port", shortOne.InputName(), "--input", shortOne.OutputName(), "--wait", "0.5", "--json"});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out, R"({"replies":[],"malformed":["F0 7E 10 06 02 41 42 02 00 00 01 02 03 F7"]})" "\n");
        EXPECT_EQ(result.err.rfind("応答はありましたが、正しい Identity Reply ではありません: short:in に", 0), 0u) << result.err;
    }
    const JackResponder silent("mute", {});
    const CliResult none =
        RunCli({"identify", "--port", silent.InputName(), "--input", silent.OutputName(), "--wait", "0.5"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err,
              "応答がありません: mute:in に機器の確認 (Identity Request) を送りましたが、0.5 秒のあいだに mute:out へ "
              "Identity Reply は届きませんでした (接続と機器の MIDI 設定を確かめてください)\n");
}

}  // namespace
