// The pure pieces of kelvane-cli: the JSON string escaper, the message list and the reading of
// the command line. The whole program is tested through the real executable elsewhere.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/PortChoice.h"
#include "common/Failure.h"
#include "cli/Interrupt.h"
#include "cli/JsonText.h"
#include "cli/MessageSelection.h"
#include "cli/Recovery.h"
#include "cli/Sender.h"
#include "common/Failure.h"
#include "midi/WireTime.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"

#if !defined(_WIN32)
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>

#include "Files.h"
#include "TempDir.h"
#endif

namespace cli {
namespace {

TEST(CliJsonString, EscapesWhatJsonRequiresAndPassesUtf8Through) {
    const struct {
        std::string text;
        std::string json;
    } cases[] = {
        {"", R"("")"},
        {"0001 42H 1024Byte", R"("0001 42H 1024Byte")"},
        {"say \"hi\" \\ bye", R"("say \"hi\" \\ bye")"},
        {"a\nb\tc\rd\be\ff", R"("a\nb\tc\rd\be\ff")"},
        {std::string("\x00\x01\x1F", 3), R"("\u0000\u0001\u001f")"},
        {"\x7F", "\"\x7F\""},                                              // DEL is allowed as is
        {"データが記録されておりません", "\"データが記録されておりません\""},  // 3-byte UTF-8
        {"Ä€😀", "\"Ä€😀\""},                                               // 2, 3 and 4 bytes
        {"/", R"("/")"},
    };
    for (const auto& c : cases) EXPECT_EQ(JsonString(c.text), c.json) << c.json;
}

TEST(CliJsonString, TurnsEveryByteOfBrokenUtf8IntoAReplacementCharacter) {
    const std::string r = "\xEF\xBF\xBD";
    const struct {
        std::string text;
        std::string json;
    } cases[] = {
        {"a\x80z", "\"a" + r + "z\""},                     // lone continuation byte
        {"\xE3\x81", "\"" + r + r + "\""},                 // cut short at the end
        {"\xE3\x81z", "\"" + r + r + "z\""},               // cut short before ASCII
        {"\xC0\xAF", "\"" + r + r + "\""},                 // overlong '/'
        {"\xE0\x80\xAF", "\"" + r + r + r + "\""},         // overlong in three bytes
        {"\xED\xA0\x80", "\"" + r + r + r + "\""},         // UTF-16 surrogate
        {"\xF4\x90\x80\x80", "\"" + r + r + r + r + "\""}, // above U+10FFFF
        {"\xFF", "\"" + r + "\""},
    };
    for (const auto& c : cases) EXPECT_EQ(JsonString(c.text), c.json) << c.json;
}

TEST(CliMessageSelection, ReadsSinglesAndRangesInTheOrderWritten) {
    using R = MessageRange;
    const struct {
        const char* text;
        std::vector<R> ranges;
    } cases[] = {
        {"1", {{1, 1}}},
        {"1,3-5", {{1, 1}, {3, 5}}},
        {"5,1", {{5, 5}, {1, 1}}},
        {"2-2,007", {{2, 2}, {7, 7}}},
        {"1000", {{1000, 1000}}},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseMessageSelection(c.text), c.ranges) << c.text;
}

TEST(CliMessageSelection, MalformedListsAreUsageErrors) {
    const struct {
        const char* text;
        const char* reason;
    } cases[] = {
        {"", "--messages needs a list such as 1,3-5"},
        {",", "empty item in message list ','"},
        {"1,", "empty item in message list '1,'"},
        {"a", "message number 'a' is not a number"},
        {"1 ,2", "message number '1 ' is not a number"},
        {"+1", "message number '+1' is not a number"},
        {"1-", "message range end '' is not a number"},
        {"-3", "message range start '' is not a number"},
        {"1-2-3", "message range end '2-3' is not a number"},
        {"3-1", "message range '3-1' runs backwards"},
        {"4294967296", "message number '4294967296' is too large"},
    };
    for (const auto& c : cases) {
        try {
            ParseMessageSelection(c.text);
            ADD_FAILURE() << "accepted '" << c.text << "'";
        } catch (const UsageError& error) {
            EXPECT_EQ(std::string(error.what()), c.reason);
        }
    }
}

TEST(CliMessageSelection, IndexesAreCheckedAgainstTheStoreBeforeExpanding) {
    EXPECT_EQ(MessageIndexes({}, 3), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(MessageIndexes({{1, 1}, {3, 5}}, 5), (std::vector<int>{0, 2, 3, 4}));
    EXPECT_EQ(MessageIndexes({{2, 2}, {1, 2}}, 2), (std::vector<int>{1, 0, 1}));
    const struct {
        std::vector<MessageRange> ranges;
        int stored;
        const char* text;
    } failing[] = {
        {{{0, 2}}, 5, "メッセージ 0 はありません (1〜5)"},
        {{{4, 9}}, 5, "メッセージ 9 はありません (1〜5)"},
        {{{1, 1}, {6, 6}}, 5, "メッセージ 6 はありません (1〜5)"},
        // A huge range is refused, not expanded into four billion numbers first.
        {{{1, 4294967295u}}, 1000, "メッセージ 4294967295 はありません (1〜1000)"},
        {{{1, 1}}, 0, "メッセージ 1 はありません (メッセージがありません)"},
        // A short argument that names a bank many times is refused before it is expanded.
        {std::vector<MessageRange>(1001, {1, 1000}), 1000,
         "選択したメッセージが多すぎます (1001000 個、一度に送れるのは 1000000 個まで)"},
    };
    for (const auto& c : failing) {
        try {
            MessageIndexes(c.ranges, c.stored);
            ADD_FAILURE() << "accepted " << c.text;
        } catch (const kelvane::Failure& failure) {
            EXPECT_EQ(std::string(failure.what()), c.text);
        }
    }
}

TEST(CliCommandLine, ReadsEveryCommandWithOptionsAnywhere) {
    const Invocation list = ParseCommandLine({"--json", "list", "a.syx"});
    EXPECT_EQ(list.kind, CommandKind::List);
    EXPECT_EQ(list.dumpPath, "a.syx");
    EXPECT_TRUE(list.json);

    const Invocation info = ParseCommandLine({"info", "a.syx", "12"});
    EXPECT_EQ(info.kind, CommandKind::Info);
    EXPECT_EQ(info.messageNumber, 12u);
    EXPECT_FALSE(info.json);

    const Invocation exported = ParseCommandLine({"export", "a.syx", "b.mid"});
    EXPECT_EQ(exported.kind, CommandKind::Export);
    EXPECT_EQ(exported.outputPath, "b.mid");

    const Invocation send = ParseCommandLine({"send", "--gap=0", "a.syx", "--port", "3", "--messages", "2-4,1"});
    EXPECT_EQ(send.kind, CommandKind::Send);
    EXPECT_EQ(send.dumpPath, "a.syx");
    EXPECT_EQ(send.port, "3");
    EXPECT_EQ(send.gapMs, 0u);
    EXPECT_EQ(send.messages, (std::vector<MessageRange>{{2, 4}, {1, 1}}));

    const Invocation defaults = ParseCommandLine({"send", "a.syx", "--port=1"});
    EXPECT_EQ(defaults.gapMs, 150u);
    EXPECT_EQ(defaults.speedPercent, 100);
    EXPECT_FALSE(defaults.json);
    EXPECT_EQ(ParseCommandLine({"send", "a.syx", "--port=1", "--speed", "25%"}).speedPercent, 25);
    EXPECT_EQ(ParseCommandLine({"send", "a.syx", "--port=1", "--speed=10", "--json"}).speedPercent, 10);
    EXPECT_EQ(ParseCommandLine({"send", "a.syx", "--port=1", "--speed", "1000%"}).speedPercent, 1000);
    EXPECT_EQ(ParseCommandLine({"send", "a.syx", "--port=1", "--speed", "max"}).speedPercent, midi::FastestSpeed);
    EXPECT_EQ(ParseCommandLine({"send", "a.syx", "--port=1", "--speed=最大"}).speedPercent, midi::FastestSpeed);
    for (const char* bad : {"0", "1001", "-5", "fast", "", "%", "50%%", "max%"}) {
        EXPECT_THROW(ParseCommandLine({"send", "a.syx", "--port=1", "--speed", bad}), UsageError) << bad;
    }
    EXPECT_THROW(ParseCommandLine({"list", "a.syx", "--speed", "50"}), UsageError);
    EXPECT_TRUE(defaults.messages.empty());

    const Invocation receive = ParseCommandLine(
        {"receive", "out.syx", "--port", "2", "--idle=0.25", "--count", "3", "--timeout", "10",
         "--request-hex", "F0 41 10 f7", "--out-port", "4", "--json"});
    EXPECT_EQ(receive.kind, CommandKind::Receive);
    EXPECT_EQ(receive.outputPath, "out.syx");
    EXPECT_EQ(receive.port, "2");
    EXPECT_EQ(receive.idleMs, 250u);
    EXPECT_EQ(receive.count, 3u);
    EXPECT_EQ(receive.timeoutMs, 10000u);
    EXPECT_EQ(receive.requestBytes, (std::vector<std::uint8_t>{0xF0, 0x41, 0x10, 0xF7}));
    EXPECT_EQ(receive.outPort, "4");
    EXPECT_TRUE(receive.json);

    const Invocation receiveDefaults = ParseCommandLine({"receive", "out.syx", "--port", "1"});
    EXPECT_EQ(receiveDefaults.idleMs, 1000u);
    EXPECT_EQ(receiveDefaults.count, 0u);
    EXPECT_EQ(receiveDefaults.timeoutMs, 0u);
    EXPECT_TRUE(receiveDefaults.requestBytes.empty());
    EXPECT_TRUE(ParseCommandLine({"ports", "--input"}).input);

    // After "--" everything is an operand, even what looks like an option.
    const Invocation dashed = ParseCommandLine({"hex", "--", "--json", "7"});
    EXPECT_EQ(dashed.kind, CommandKind::Hex);
    EXPECT_EQ(dashed.dumpPath, "--json");
    EXPECT_FALSE(dashed.json);
}

TEST(CliCommandLine, HelpAndVersionWinOverEverythingBeforeTheEndOfOptions) {
    EXPECT_EQ(ParseCommandLine({"send", "--help"}).kind, CommandKind::Help);
    EXPECT_EQ(ParseCommandLine({"nonsense", "--version"}).kind, CommandKind::Version);
    EXPECT_EQ(ParseCommandLine({"-h"}).kind, CommandKind::Help);
    EXPECT_THROW(ParseCommandLine({"list", "--", "--help", "x"}), UsageError);
}

TEST(CliCommandLine, SecondsAndHexBytes) {
    const struct {
        const char* text;
        std::uint32_t ms;
    } seconds[] = {{"0", 0}, {"1", 1000}, {"0.5", 500}, {"2.125", 2125}, {"4294967", 4294967000u}};
    for (const auto& c : seconds) EXPECT_EQ(ParseSeconds(c.text, "idle"), c.ms) << c.text;
    for (const char* bad : {"", ".5", "1.", "1.2345", "-1", "1,5", "4294968", "1e3"}) {
        EXPECT_THROW(ParseSeconds(bad, "idle"), UsageError) << bad;
    }
    EXPECT_EQ(ParseHexBytes(" F0  7e 7F 9 01 F7 ", "x"),
              (std::vector<std::uint8_t>{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
    for (const char* bad : {"", "   ", "F0 G1", "F00", "F0,F7", "-1"}) {
        EXPECT_THROW(ParseHexBytes(bad, "x"), UsageError) << bad;
    }
}

// Which stream keeps UTF-8 when it goes to a file or a pipe on Windows: the one with the JSON,
// both when asked; the rest is in the console's code page.
TEST(CliStreamTexts, JsonAndTheAskingKeepUtf8) {
    constexpr StreamText C = StreamText::CodePage, U = StreamText::Utf8;
    const struct {
        std::vector<std::string> args;
        StreamText out, err;
    } rows[] = {
        {{"list", "a.syx"}, C, C},
        {{"list", "a.syx", "--json"}, U, C},
        {{"list", "a.syx", "--encoding", "utf-8"}, U, U},
        {{"--encoding=UTF8", "check", "a.syx"}, U, U},
        {{"receive", "-", "--port", "1", "--json"}, U, U},  // the JSON goes to stderr there
        {{"receive", "out.syx", "--port", "1", "--json"}, U, C},
        {{"receive", "-", "--port", "1"}, C, C},
        {{"list", "--json"}, C, C},  // a usage error: only text follows
    };
    for (const auto& r : rows) {
        const StreamTexts texts = StreamTextsFor(r.args);
        EXPECT_EQ(texts.out, r.out) << r.args[0] << " " << r.args.size();
        EXPECT_EQ(texts.err, r.err) << r.args[0] << " " << r.args.size();
    }
    for (const char* bad : {"", "utf-16", "shift_jis", "console"}) {
        EXPECT_THROW(ParseCommandLine({"list", "a.syx", "--encoding", bad}), UsageError) << bad;
    }
}

TEST(CliInterrupt, CtrlCIsNotedWhileCaughtAndEndsNothing) {
    {
        InterruptCatcher catcher;
        EXPECT_FALSE(catcher.Requested());
        std::raise(SIGINT);
        EXPECT_TRUE(catcher.Requested());
    }
    InterruptCatcher again;
    EXPECT_FALSE(again.Requested());
}

// Started with SIGINT ignored (nohup, a background job), the program keeps ignoring it; SIGTERM
// still asks it to stop.
TEST(CliInterrupt, AnInheritedIgnoreStaysIgnored) {
    const auto previous = std::signal(SIGINT, SIG_IGN);
    {
        InterruptCatcher catcher;
        std::raise(SIGINT);
        EXPECT_FALSE(catcher.Requested());
        std::raise(SIGTERM);
        EXPECT_TRUE(catcher.WaitFor(std::chrono::seconds(0)));
    }
    EXPECT_EQ(std::signal(SIGINT, previous), SIG_IGN);
}

// Windows ends a process on the second Ctrl+C by itself (its C runtime resets the handler).
#ifndef _WIN32
TEST(CliInterruptDeathTest, TheSecondCtrlCEndsTheProcessAtOnce) {
    EXPECT_EXIT({
        InterruptCatcher catcher;
        std::raise(SIGINT);
        std::raise(SIGINT);
        std::exit(0);
    }, ::testing::KilledBySignal(SIGINT), "");
}
#endif

TEST(CliSender, WireTimeIsThatOfA31250BaudCable) {
    EXPECT_EQ(midi::WireTime(6), std::chrono::microseconds(1920));
    EXPECT_EQ(midi::WireTime(3125), std::chrono::seconds(1));
    EXPECT_EQ(midi::WireTime(65536), std::chrono::microseconds(20'971'520));
}

// What one send holds is bounded in bytes too: the store's largest messages named many times
// are refused before a single copy is made.
TEST(CliSender, SelectionBeyondWhatOneSendHoldsIsRefusedBeforeCopying) {
    std::vector<std::uint8_t> bank;
    for (int k = 0; k < 1000; ++k) {
        bank.push_back(0xF0);
        bank.insert(bank.end(), 59998, static_cast<std::uint8_t>(k % 128));
        bank.push_back(0xF7);
    }
    sysex::ResetStoreForTests();
    sysex::ScanDump(bank.data(), bank.size());
    const std::vector<int> indexes = MessageIndexes(std::vector<MessageRange>(5, {1, 1000}), sysex::SysExCount);
    try {
        SendMessages(indexes, midi::Pace{}, nullptr, nullptr);
        ADD_FAILURE() << "a selection of 300 MB was taken";
    } catch (const kelvane::Failure& failure) {
        EXPECT_EQ(std::string(failure.what()),
                  "選択したメッセージが大きすぎます (300000000 バイト、一度に送れるのは 268435456 バイトまで)");
    }
    sysex::ResetStoreForTests();
}

#if !defined(_WIN32)
// Where a capture goes when its target refuses it: beside the target where only the user can
// plant names, else the user's own state folder; always a new file, never through a link.
TEST(CliRecovery, CaptureGoesToANewFileTheUserOwns) {
    const std::vector<std::uint8_t> capture{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    const struct {
        const char* row;
        const char* target;  // {dir} is a private folder, {shared} one every user may write to
        const char* expected;  // {dir}, or {state} for the user's state folder
    } rows[] = {
        {"private folder", "{dir}/out.syx", "{dir}/out.syx.recovered.syx"},
        {"a link planted under the first name", "{dir}/planted.syx", "{dir}/planted.syx.recovered-2.syx"},
        {"a device", "/dev/full", "{state}/full.recovered.syx"},
        {"a folder every user may write to", "{shared}/out.syx", "{state}/out.syx.recovered.syx"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        const testsupport::TempDir dir;
        std::filesystem::create_directory(dir.File("shared"));
        ::chmod(dir.File("shared").c_str(), 01777);
        ::setenv("XDG_STATE_HOME", dir.File("state").c_str(), 1);
        // Another user's link to a file of their choosing under the name tried first.
        std::filesystem::create_symlink(dir.File("theirs.syx"), dir.File("planted.syx.recovered.syx"));
        const auto fill = [&](std::string text) {
            for (const auto& [key, value] : {std::pair<std::string, std::string>{"{dir}", dir.Path().string()},
                                             {"{shared}", dir.File("shared").string()},
                                             {"{state}", dir.File("state/kelvane").string()}}) {
                if (const auto at = text.find(key); at != std::string::npos) text.replace(at, key.size(), value);
            }
            return text;
        };
        sysex::ResetStoreForTests();
        sysex::ScanDump(capture.data(), capture.size());
        const std::string saved = SaveRecoveryDump(fill(r.target));
        EXPECT_EQ(saved, fill(r.expected));
        if (!saved.empty()) {
            EXPECT_EQ(testsupport::ReadAll(saved), capture);
        }
        EXPECT_FALSE(std::filesystem::exists(dir.File("theirs.syx")));
        ::unsetenv("XDG_STATE_HOME");
    }
    sysex::ResetStoreForTests();
}
#endif

}  // namespace
}  // namespace cli

namespace {

// A port as a user names it: the number `ports` printed, the whole name, or a part of it that
// only one port's name holds.
TEST(CliPortChoice, NumbersAndNamesFromOneListing) {
    const std::vector<std::string> entries{"(None)", "a2j:Virtual Raw MIDI 0-0 [16] (capture): VirMIDI 0-0",
                                           "a2j:Virtual Raw MIDI 0-0 [16] (playback): VirMIDI 0-0", "synth:in"};
    const struct {
        const char* text;
        std::uint32_t entry;  // 0: refused with `reason`
        const char* reason;
    } cases[] = {
        {"3", 3, ""}, {"synth:in", 3, ""}, {"(playback)", 2, ""}, {"SYNTH", 3, ""},
        {"4", 0, "ポート 4 はありません (1〜3)"},
        {"0", 0, "ポート 0 は (None) のため送信できません"},
        {"99999999999", 0, "ポート 4294967295 はありません (1〜3)"},
        {"VirMIDI", 0, "「VirMIDI」を名前に含むポートが複数あります:\n"
                       "  1 a2j:Virtual Raw MIDI 0-0 [16] (capture): VirMIDI 0-0\n"
                       "  2 a2j:Virtual Raw MIDI 0-0 [16] (playback): VirMIDI 0-0"},
        {"drum", 0, "「drum」という名前のポートはありません"},
    };
    for (const auto& c : cases) {
        if (c.entry > 0) {
            EXPECT_EQ(cli::ResolvePort(c.text, entries, cli::PortSide::Output), c.entry) << c.text;
            continue;
        }
        try {
            cli::ResolvePort(c.text, entries, cli::PortSide::Output);
            ADD_FAILURE() << c.text << " was accepted";
        } catch (const kelvane::Failure& failure) {
            EXPECT_EQ(std::string(failure.what()), c.reason) << c.text;
        }
    }
    try {
        cli::ResolvePort("7", entries, cli::PortSide::Input, "JACK が応答しません");
        ADD_FAILURE();
    } catch (const kelvane::Failure& failure) {
        EXPECT_EQ(std::string(failure.what()), "JACK が応答しません") << "the listing's gap is why";
    }
}

}  // namespace
