// The real kelvane-cli on real dump files: what list, info, hex and export print and write,
// and how every kind of bad input ends (message on stderr, exit status 1 or 2).

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "Files.h"
#include "Messages.h"
#include "TempDir.h"
#include "midi/Input.h"
#include "midi/Port.h"
#include "smf/SmfWriter.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace {

using clitest::CliResult;
using clitest::RunCli;
using testsupport::Bytes;

const std::string Usage =
    "usage: kelvane-cli list|info|hex|export|join|check|ports|send|receive|identify|requests|request ... "
    "(kelvane-cli --help tells more)\n";

// The loader's and inspector's test messages in one dump, with bytes the scan must skip.
Bytes MixedDump() {
    const Bytes korg{0xF0, 0x42, 0x30, 0x28, 0x40, 0xF7};   // 1: KORG Wave Station, length 5
    const Bytes yamaha{0xF0, 0x43, 0x10, 0x4C, 0x00, 0xF7}; // 2: 42H only for byte 1 = 42
    const Bytes gmOn{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};   // 3: universal, channel 0F
    const Bytes shortest{0xF0, 0xF7};                       // 4: stored length 1
    const Bytes nested{0xF0, 0x41, 0xF0, 0x42, 0xF7};       // 5: a second F0 is data
    Bytes long1024 = testsupport::FilledMessage(1025, 0x11); // 6: 1,023 data bytes
    long1024[1] = 0x42;
    long1024[2] = 0x3A;
    long1024[3] = 0x36;
    return testsupport::Concat({{0x00, 0x41},                // before the first F0: skipped
                                korg, yamaha,
                                {0xF7},                      // stray F7: skipped
                                gmOn, shortest, nested, long1024,
                                {0x7F}});                    // after the last F7: skipped
}

class Cli : public ::testing::Test {
protected:
    std::string Dump(const Bytes& bytes, const std::string& name = "dump.syx") {
        return dir.Write(name, bytes);
    }
    std::string Mixed() { return Dump(MixedDump()); }

    testsupport::TempDir dir;
};

void ExpectDone(const CliResult& result, const std::string& out) {
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, out);
}

void ExpectFailed(const CliResult& result, int exitCode, const std::string& err) {
    EXPECT_EQ(result.exitCode, exitCode);
    EXPECT_EQ(result.err, err);
    EXPECT_EQ(result.out, "");
}

TEST_F(Cli, ListPrintsTheWindowsListLines) {
    ExpectDone(RunCli({"list", Mixed()}),
               "0001 42H 5Byte\n0002 5Byte\n0003 5Byte\n0004 1Byte\n0005 4Byte\n0006 42H 1024Byte\n");
}

TEST_F(Cli, ListAsJson) {
    const std::string dump = Dump({0xF0, 0x42, 0x30, 0x28, 0x40, 0xF7, 0xF0, 0xF7});
    ExpectDone(RunCli({"list", "--json", dump}),
               R"({"messages":[{"number":1,"storedLength":5,"manufacturer":"Korg Inc.","line":"0001 42H 5Byte"},)"
               R"({"number":2,"storedLength":1,"manufacturer":null,"line":"0002 1Byte"}]})" "\n");
}

TEST_F(Cli, ListOfADumpWithoutMessagesPrintsNothing) {
    const std::string dump = Dump({0x01, 0xF7, 0x02});
    ExpectDone(RunCli({"list", dump}), "");
    ExpectDone(RunCli({"list", dump, "--json"}), "{\"messages\":[]}\n");
}

TEST_F(Cli, InfoPrintsThePaneLinesOfTheNumberedMessage) {
    const std::string dump = Mixed();
    const struct {
        const char* number;
        const char* lines;
    } cases[] = {
        {"1", "Vendor:KORG\nMachine:Wave Station\nSysExCH:00\nFunction:40H\n"},
        {"2", "Vendor:YAMAHA\nMachine:Unknown(4CH)\nSysExCH:00\nFunction:00H\n"},
        {"3", "Vendor:Unknown(7EH)\nMachine:Unknown(09H)\nSysExCH:0F\nFunction:01H\n"},
        // F0 F7 in a slot never used before: the bytes beyond its F7 are zero.
        {"4", "Vendor:Unknown(F7H)\nMachine:Unknown(00H)\nSysExCH:00\nFunction:00H\n"},
        {"5", "Vendor:Roland\nMachine:Unknown(42H)\nSysExCH:00\nFunction:F7H\n"},
        {"6", "Vendor:KORG\nMachine:X5(05R/W)\nSysExCH:0A\nFunction:11H\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        ExpectDone(RunCli({"info", dump, c.number}), c.lines);
    }
}

TEST_F(Cli, InfoAsJson) {
    ExpectDone(RunCli({"info", Mixed(), "6", "--json"}),
               R"j({"number":6,"storedLength":1024,"manufacturer":"Korg Inc.","meaning":null,"fields":{"Vendor":"KORG","Machine":"X5(05R/W)",)j"
               R"j("SysExCH":"0A","Function":"11H"},"lines":["Vendor:KORG","Machine:X5(05R/W)",)j"
               R"j("SysExCH:0A","Function:11H"]})j" "\n");
}

TEST_F(Cli, CheckNamesWrongChecksumsAndFixCorrectsThemInACopy) {
    const Bytes good{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    Bytes bad = good;
    bad[9] = 0x40;
    // Bytes outside the messages (a header, active sensing, a message cut off at the end) stay
    // in the fixed file as they were.
    const Bytes header{'S', 'Y', 'X', 0x00};
    const std::string dump = Dump(testsupport::Concat({header, good, {0xFE}, bad, {0xF0, 0x00, 0x20, 0x29, 0xF7}, {0xF0, 0x41}}));
    const std::string lines = "0001 Roland Corporation チェックサム正常\n0002 Roland Corporation チェックサム不一致 (正しくは 41H、記録は 40H)\n"
                              "0003 Focusrite/Novation チェックサム不明\n";
    CliResult result = RunCli({"check", dump});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, lines);
    result = RunCli({"check", dump, "--json"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, R"({"messages":[{"number":1,"manufacturer":"Roland Corporation","checksum":"correct","expected":"41","found":"41"},)"
                          R"({"number":2,"manufacturer":"Roland Corporation","checksum":"wrong","expected":"41","found":"40"},)"
                          R"({"number":3,"manufacturer":"Focusrite/Novation","checksum":"none"}],"wrong":1})" "\n");
    const Bytes original = testsupport::ReadAll(dump);
    Bytes expected = original;
    expected[header.size() + good.size() + 1 + 9] = 0x41;
    const std::string fixed = dir.File("fixed.syx").string();
    const CliResult copy = RunCli({"check", dump, "--fix", fixed});
    EXPECT_EQ(copy.exitCode, 0);
    EXPECT_EQ(copy.out, lines + "1 件のチェックサムを直して " + fixed + " に保存しました\n");
    EXPECT_EQ(testsupport::ReadAll(fixed), expected);
    EXPECT_EQ(testsupport::ReadAll(dump), original);
    // In place, through the safe replacement; with nothing left to fix, the copy is the file.
    const CliResult inPlace = RunCli({"check", dump, "--fix", dump});
    EXPECT_EQ(inPlace.exitCode, 0);
    EXPECT_EQ(inPlace.out, lines + "1 件のチェックサムを直して " + dump + " に保存しました\n");
    EXPECT_EQ(testsupport::ReadAll(dump), expected);
    const CliResult again = RunCli({"check", dump, "--fix", fixed});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(testsupport::ReadAll(fixed), expected);
}

TEST_F(Cli, HexPrintsTheWholeMessageSixteenBytesALine) {
    Bytes thirtyTwo(32);
    for (std::size_t i = 0; i < thirtyTwo.size(); ++i) thirtyTwo[i] = static_cast<std::uint8_t>(i * 3);
    thirtyTwo.front() = 0xF0;
    thirtyTwo.back() = 0xF7;
    const std::string path = Dump(testsupport::Concat({MixedDump(), thirtyTwo}));

    ExpectDone(RunCli({"hex", path, "4"}), "F0 F7\n");
    ExpectDone(RunCli({"hex", path, "5"}), "F0 41 F0 42 F7\n");
    // Exactly two full lines: no empty third one.
    ExpectDone(RunCli({"hex", path, "7"}),
               "F0 03 06 09 0C 0F 12 15 18 1B 1E 21 24 27 2A 2D\n"
               "30 33 36 39 3C 3F 42 45 48 4B 4E 51 54 57 5A F7\n");
    const CliResult long1024 = RunCli({"hex", path, "6"});
    EXPECT_EQ(long1024.exitCode, 0);
    std::string expected = "F0 42 3A 36 11 11 11 11 11 11 11 11 11 11 11 11\n";
    for (int line = 1; line < 64; ++line) expected += "11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11\n";
    expected += "F7\n";
    EXPECT_EQ(long1024.out, expected);
}

TEST_F(Cli, ExportWritesTheFileTheWindowsSaveWrites) {
    const std::string dump = Mixed();
    const std::string out = dir.File("cli.mid").string();
    ExpectDone(RunCli({"export", dump, out}), "");

    // The window's EXPORT_SMF after loading the same file.
    sysex::ResetStoreForTests();
    sysex::LoadDumpFile(dump);
    const std::string reference = dir.File("window.mid").string();
    smf::ExportStore(reference);
    const Bytes written = testsupport::ReadAll(out);
    EXPECT_EQ(written, testsupport::ReadAll(reference));
    EXPECT_EQ(written.size(), 26u + (3 * 8 + 4 + 7 + 1028));  // 26 + the six events
}

TEST_F(Cli, ExportOfGmSystemOnGivesTheKnown34Bytes) {
    const std::string dump = Dump({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    const std::string out = dir.Write("old.mid", Bytes(500, 0xAA));  // longer file replaced whole
    ExpectDone(RunCli({"export", dump, out}), "");
    EXPECT_EQ(testsupport::ReadAll(out),
              (Bytes{0x4D, 0x54, 0x68, 0x64, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x01,
                     0x00, 0x30, 0x4D, 0x54, 0x72, 0x6B, 0x00, 0x00, 0x00, 0x0C, 0x60, 0xF0,
                     0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0x30, 0xFF, 0x2F, 0x00}));
}

// export and join write the messages picked, in the order picked, raw or as an SMF by OUT's name
// unless --format says.
TEST_F(Cli, ExportAndJoinWriteTheListedMessagesInOrder) {
    const Bytes a1{0xF0, 0x01, 0xF7}, a2{0xF0, 0x02, 0x02, 0xF7}, a3{0xF0, 0x03, 0xF7};
    const Bytes b1{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, b2{0xF0, 0x41, 0xF7};
    const std::string a = Dump(testsupport::Concat({a1, a2, a3}), "a.syx");
    auto smfOf = [this](const Bytes& raw) {
        sysex::ResetStoreForTests();
        sysex::ScanDump(raw.data(), raw.size());
        const std::string reference = dir.File("reference.mid").string();
        smf::ExportStore(reference);
        return testsupport::ReadAll(reference);
    };
    // The second file is a Standard MIDI File: join reads every kind the loader reads.
    const std::string b = dir.Write("b.mid", smfOf(testsupport::Concat({b1, b2})));
    const struct {
        std::vector<std::string> args;  // OUT is "OUT" (raw), "OUT.mid" or "-"
        Bytes written;
    } cases[] = {
        {{"export", a, "OUT.syx", "--messages", "3,1-2"}, testsupport::Concat({a3, a1, a2})},
        {{"export", a, "OUT.syx", "--messages", "2,2"}, testsupport::Concat({a2, a2})},
        {{"export", a, "OUT.EX"}, testsupport::Concat({a1, a2, a3})},
        {{"export", a, "OUT.mid", "--messages", "3,1"}, smfOf(testsupport::Concat({a3, a1}))},
        {{"export", a, "OUT.syx", "--format", "smf", "--messages", "1"}, smfOf(a1)},
        {{"export", a, "-", "--format=raw", "--messages", "2"}, a2},
        {{"join", "OUT.syx", a, b}, testsupport::Concat({a1, a2, a3, b1, b2})},
        {{"join", "OUT.syx", b, "--messages", "2,1", a, "--messages", "3"}, testsupport::Concat({b2, b1, a3})},
        {{"join", "OUT.mid", a, "--messages", "1", a, "--messages", "1"}, smfOf(testsupport::Concat({a1, a1}))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        std::vector<std::string> args = c.args;
        std::string out;
        for (std::string& arg : args) {
            if (arg.rfind("OUT", 0) == 0) arg = out = dir.File(arg).string();
        }
        const CliResult result = RunCli(args);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.err, "");
        if (out.empty()) {
            EXPECT_EQ(Bytes(result.out.begin(), result.out.end()), c.written);
        } else {
            EXPECT_EQ(testsupport::ReadAll(out), c.written);
            std::filesystem::remove(out);
        }
    }
    // A file that cannot be read, or a number it does not have, leaves OUT as it was.
    const std::string kept = dir.Write("kept.syx", a1);
    ExpectFailed(RunCli({"join", kept, a, dir.File("missing.syx").string()}), 1,
                 "ファイル " + dir.File("missing.syx").string() + " は開けません\n");
    ExpectFailed(RunCli({"join", kept, a, b, "--messages", "3"}), 1, b + ": メッセージ 3 はありません (1〜2)\n");
    ExpectFailed(RunCli({"export", a, kept, "--messages", "4"}), 1, "メッセージ 4 はありません (1〜3)\n");
    EXPECT_EQ(testsupport::ReadAll(kept), a1);
}

TEST_F(Cli, ExportOfAnEmptyStoreRefusesWithTheWindowsNotice) {
    const std::string dump = Dump({0x00, 0x01});
    const std::string out = dir.File("never.mid").string();
    ExpectFailed(RunCli({"export", dump, out}), 1, "データが記録されておりません\n");
    EXPECT_FALSE(std::filesystem::exists(out));
    ExpectFailed(RunCli({"info", dump, "1"}), 1, "データが記録されておりません\n");
    ExpectFailed(RunCli({"hex", dump, "1"}), 1, "データが記録されておりません\n");
}

TEST_F(Cli, ExportFailuresShowTheWindowsFailureText) {
    const std::string dump = Mixed();
    ExpectFailed(RunCli({"export", dump, dir.File("no/such/folder/x.mid").string()}), 1,
                 "不正なファイル名です\n");
    ExpectFailed(RunCli({"export", dump, dir.Path().string()}), 1,
                 "ファイルへのアクセスが拒否されました\n");
    // A full disk is named as such; never exit 0.
    ExpectFailed(RunCli({"export", dump, "/dev/full"}), 1, "ディスクがいっぱいです\n");
}

// Targets that are not files: nothing may wait for a reader that never comes, and bytes that
// cannot be delivered are a failure, never a success.
TEST_F(Cli, ExportToStandardOutputFifoAndBrokenPipeEndsWithTheRightStatus) {
    const std::string dump = Dump({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    const CliResult toStdout = RunCli({"export", dump, "-"});
    EXPECT_EQ(toStdout.exitCode, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out.size(), 34u);
    EXPECT_EQ(toStdout.out.substr(0, 4), "MThd");
    EXPECT_EQ(toStdout.out.substr(30), std::string("\x30\xFF\x2F\x00", 4));

    const std::string fifo = dir.File("fifo.mid").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ExpectFailed(RunCli({"export", dump, fifo}), 1, "I/O エラー (6)\n");  // ENXIO: no reader

    // A reader that has already quit: the first write breaks the pipe.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]);
    clitest::CliOptions toPipe;
    toPipe.outDescriptor = ends[1];
    clitest::CliProcess writer({"export", dump, "-"}, toPipe);
    ::close(ends[1]);
    const CliResult broken = writer.Wait();
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_EQ(broken.err, "I/O エラー (32)\n");  // EPIPE
}

TEST_F(Cli, WhatTheLoaderDropsIsToldOnStderrAndTheRestIsUsed) {
    const std::string path = Dump(testsupport::Concat({
        {0xF0, 0x42, 0x30, 0x28, 0x40, 0xF7},
        testsupport::FilledMessage(65538, 0x01),  // 65,536 bytes before its F7: one more than a slot takes
        {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0xF0, 0x43, 0x10}}));  // no F7

    const CliResult result = RunCli({"list", path});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "0001 42H 5Byte\n0002 65537Byte\n0003 5Byte\n");
    EXPECT_EQ(result.err, "ファイルの末尾で途切れたメッセージ (F7 がないもの) 1 件は読み込みませんでした\n");

    const CliResult exported = RunCli({"export", path, dir.File("kept.mid").string()});
    EXPECT_EQ(exported.exitCode, 0);
    EXPECT_EQ(exported.err, result.err);
    EXPECT_EQ(testsupport::ReadAll(dir.File("kept.mid")).size(), 26u + 8 + (2 + 3 + 65537) + 8);
}

TEST_F(Cli, FilesThatCannotBeReadFailWithTheLoadersText) {
    const std::string missing = dir.File("missing.syx").string();
    ExpectFailed(RunCli({"list", missing}), 1, "ファイル " + missing + " は開けません\n");
    ExpectFailed(RunCli({"export", missing, dir.File("x.mid").string()}), 1,
                 "ファイル " + missing + " は開けません\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.mid")));
    const std::string folder = dir.Path().string();
    ExpectFailed(RunCli({"info", folder, "1"}), 1, "ファイル " + folder + " は開けません\n");
}

TEST_F(Cli, BadArgumentsEndWithAReasonAndTheUsageLine) {
    const std::string dump = Mixed();
    const struct {
        std::vector<std::string> args;
        std::string reason;
    } cases[] = {
        {{}, "no command given"},
        {{"show", dump}, "unknown command 'show'"},
        {{"list"}, "list takes 1 operand, not 0"},
        {{"info", dump}, "info takes 2 operands, not 1"},
        {{"export", dump}, "export takes 2 operands, not 1"},
        {{"ports", dump}, "ports takes 0 operands, not 1"},
        {{"info", dump, "x"}, "message number 'x' is not a number"},
        {{"hex", dump, "-1"}, "unknown option '-1'"},
        {{"hex", dump, "99999999999"}, "message number '99999999999' is too large"},
        {{"hex", dump, "1", "--json"}, "hex has no --json"},
        {{"list", dump, "--port", "1"}, "--port belongs to send, receive and identify only"},
        {{"list", dump, "--verbose"}, "unknown option '--verbose'"},
        {{"send", dump}, "send needs --port K (see the ports command)"},
        {{"send", dump, "--port"}, "--port needs a value"},
        {{"send", dump, "--port="}, "send needs --port K (see the ports command)"},
        {{"send", dump, "--port", "1", "--gap", "-5"}, "gap '-5' is not a number"},
        {{"send", dump, "--port", "1", "--messages", "1,,2"}, "empty item in message list '1,,2'"},
        {{"send", dump, "--port", "1", "--messages", "4-2"}, "message range '4-2' runs backwards"},
        {{"receive", "o.syx"}, "receive needs --port K (see ports --input)"},
        {{"receive", "o.syx", "--port", "1", "--gap", "5"}, "--gap and --speed belong to send only"},
        {{"list", dump, "--messages", "1"}, "--messages belongs to send, export and join only"},
        {{"export", dump, "o.syx", "--format", "wav"}, "--format takes raw or smf"},
        {{"list", dump, "--format", "raw"}, "--format belongs to export and join only"},
        {{"join", "o.syx"}, "join takes 2 operands, not 1"},
        {{"join", "o.syx", "--messages", "1", dump}, "--messages of join follows the FILE it picks from"},
        {{"join", "--messages=1", "o.syx", dump}, "--messages of join follows the FILE it picks from"},
        {{"join", "o.syx", dump, "--messages", "1", "--messages", "2"}, "--messages given twice for '" + dump + "'"},
        {{"join", "o.syx", dump, "--messages", "2-1"}, "message range '2-1' runs backwards"},
        {{"send", dump, "--port", "1", "--idle", "1"},
         "--idle, --count, --timeout, --request, --request-hex and --out-port belong to receive only"},
        {{"list", dump, "--input"}, "--input belongs to ports only"},
        {{"receive", "o.syx", "--port", "1", "--idle", "0.0001"}, "idle '0.0001' is not a number of seconds"},
        {{"receive", "o.syx", "--port", "1", "--request-hex", "F0 7"}, "--request, --request-hex and --request-name go with --out-port K (see ports)"},
        {{"receive", "o.syx", "--port", "1", "--request-hex", "F0 XY", "--out-port", "1"},
         "--request-hex: 'XY' is not a hexadecimal byte"},
        {{"receive", "o.syx", "--port", "1", "--request", dump, "--request-hex", "F0", "--out-port", "1"},
         "--request, --request-hex and --request-name exclude each other"},
        {{"identify", "--port", "1"}, "identify needs --input K, where the replies come in (see ports --input)"},
        {{"identify", "--input", "1", "--port", "1", "--wait", "x"}, "wait 'x' is not a number"},
        {{"send", dump, "--port", "1", "--wait", "1"}, "--wait belongs to identify only"},
        {{"send", dump, "--port", "1", "--device-id", "80H"},
         "--device-id '80H' is not a device number from 0 to 127 (00H-7FH)"},
        {{"list", dump, "--device-id", "1"}, "--device-id belongs to send only"},
        {{"request"}, "request takes 1 operand, not 0"},
        {{"request", "identity", "device"}, "'device' is not PARAM=VALUE"},
        {{"receive", "o.syx", "--port", "1", "--request-name", "identity", "x", "--out-port", "1"},
         "'x' is not PARAM=VALUE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        ExpectFailed(RunCli(c.args), 2, "kelvane-cli: " + c.reason + "\n" + Usage);
    }
}

TEST_F(Cli, RequestsByNameAndWhatAMessageMeans) {
    ExpectDone(RunCli({"request", "roland-rq1", "device=10", "model=42", "address=400000", "size=00007F"}),
               "F0 41 10 42 11 40 00 00 00 00 7F 41 F7\n");
    ExpectDone(RunCli({"request", "identity"}), "F0 7E 7F 06 01 F7\n");
    // A value the parameter cannot take is a bad argument, told with its range, here and in receive.
    ExpectFailed(RunCli({"request", "oberheim-m1000-patch", "program=100"}), 2,
                 "oberheim-m1000-patch の program (パッチ番号) は 0-99 で指定してください (「100」)\n");
    ExpectFailed(RunCli({"receive", "o.syx", "--port", "1", "--out-port", "1", "--request-name", "korg-m1-program",
                         "channel=0x11"}),
                 2, "--request-name: korg-m1-program の channel (MIDI チャンネル) は 1-16 で指定してください (「0x11」)\n");
    const std::string dump = Dump({0xF0, 0x41, 0x10, 0x42, 0x11, 0x40, 0x00, 0x00, 0x00, 0x00, 0x7F, 0x41, 0xF7});
    const CliResult info = RunCli({"info", dump, "1", "--json"});
    EXPECT_NE(info.out.find(R"x("meaning":"Roland RQ1 address 40H 00H 00H, size 00H 00H 7FH (127 bytes)")x"),
              std::string::npos) << info.out;
}

// The refusal comes before any port is listed: no server runs for these tests.
TEST_F(Cli, ADeviceNumberAMessageCannotHoldIsRefusedBeforeSending) {
    const Bytes dump = testsupport::Concat({{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7},
                                            {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}});
    const std::string path = Dump(dump);
    ExpectFailed(RunCli({"send", path, "--port", "1", "--device-id", "16"}), 1,
                 "メッセージ 0002 の形式は機器 ID 10H を持てません (00H-0FH)\n");
    EXPECT_EQ(testsupport::ReadAll(path), dump);
}

TEST_F(Cli, MessageNumbersOutsideTheDumpFail) {
    const std::string dump = Mixed();
    ExpectFailed(RunCli({"info", dump, "0"}), 1, "メッセージ 0 はありません (1〜6)\n");
    ExpectFailed(RunCli({"hex", dump, "7"}), 1, "メッセージ 7 はありません (1〜6)\n");
    ExpectFailed(RunCli({"send", dump, "--port", "1", "--messages", "2,5-9"}), 1,
                 "メッセージ 9 はありません (1〜6)\n");
    ExpectFailed(RunCli({"send", dump, "--port", "0"}), 1, "ポート 0 は (None) のため送信できません\n");
}

TEST_F(Cli, PortNumbersBeyondTheListFail) {
    // No JACK server by that name: only what ALSA offers here, usually nothing.
    setenv("JACK_DEFAULT_SERVER", "kelvane-cli-test-no-server", 1);
    const std::size_t devices = midi::ReadPortEntries().size() - 1;
    const std::string range = devices == 0 ? "(出力ポートがありません)" : "(1〜" + std::to_string(devices) + ")";
    ExpectFailed(RunCli({"send", Mixed(), "--port", "256"}), 1,
                 "ポート 256 はありません " + range + "\n");
    const std::size_t sources = midi::ReadInputEntries().size() - 1;
    const std::string inputs = sources == 0 ? "(入力ポートがありません)" : "(1〜" + std::to_string(sources) + ")";
    ExpectFailed(RunCli({"receive", "o.syx", "--port", "256"}), 1, "入力ポート 256 はありません " + inputs + "\n");
    ExpectFailed(RunCli({"receive", "o.syx", "--port", "0"}), 1, "入力ポート 0 は (None) のため受信できません\n");
    // A name nobody has: a Japanese sentence, so no Western full stop after it.
    ExpectFailed(RunCli({"send", Mixed(), "--port", "nosuchport"}), 1, "「nosuchport」という名前のポートはありません\n");
    EXPECT_FALSE(std::filesystem::exists("o.syx"));
}

TEST_F(Cli, ResultsThatCannotBeWrittenAreNotReportedAsDone) {
    // As the shell's "kelvane-cli list dump.syx > /dev/full".
    clitest::CliOptions toFullDisk;
    toFullDisk.outPath = "/dev/full";
    const CliResult result = RunCli({"list", Mixed()}, toFullDisk);
    ExpectFailed(result, 1, "標準出力に書き込めません\n");
}

TEST(CliHelp, HelpAndVersionAreEnglishAndEndWell) {
    ExpectDone(RunCli({"--version"}), "kelvane-cli 0.94\n");
    const CliResult help = RunCli({"list", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind("kelvane-cli 0.94: SysEx dumps from the command line\n\nusage: kelvane-cli list FILE [--json]\n", 0), 0u)
        << help.out;
    for (const char* command : {"info FILE N", "hex FILE N", "export FILE OUT [--messages LIST]", "join OUT FILE", "ports [--json]",
                                "send FILE --port PORT [--messages LIST] [--gap MS]"}) {
        EXPECT_NE(help.out.find(std::string("kelvane-cli ") + command), std::string::npos) << command;
    }
}

}  // namespace
