// Knowing the instrument: identity replies, dump requests built by name (bytes as the makers'
// documents give them), device numbers rewritten per family, and what a message means.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Messages.h"
#include "sysex/DeviceId.h"
#include "sysex/Identity.h"
#include "sysex/Manufacturers.h"
#include "sysex/Meaning.h"
#include "sysex/NamedRequests.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct ReplyCase {
    const char* what;
    Bytes stream;                        // as it arrives on the input
    std::vector<std::string> lines;      // device, maker (ID), family, member (value and bytes), version
    std::vector<std::string> malformed;  // the messages that begin as a reply but are none
};

// The makers table is a table of its own; here only which ID was read matters.
std::string Name(Bytes id) {
    id.insert(id.begin(), 0xF0);
    id.push_back(0xF7);
    const auto name = sysex::ManufacturerName(id.data(), id.size());
    return name ? std::string(*name) : std::string();
}

std::string Line(const sysex::IdentityReply& r) {
    return sysex::MakerIdText(r) + " " + sysex::MakerName(r) + " dev=" + std::to_string(r.deviceId) + " family=" +
           std::to_string(r.family) + " [" + sysex::FamilyCodeText(r) + "] member=" + std::to_string(r.member) + " [" +
           sysex::MemberCodeText(r) + "] version=" + sysex::VersionText(r);
}

const Bytes kRolandReply{0xF0, 0x7E, 0x10, 0x06, 0x02, 0x41, 0x42, 0x02, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0xF7};

TEST(Identity, RepliesAreReadFromTheStream) {
    const std::vector<ReplyCase> cases{
        {"Roland, one-byte maker: family 42 02 = 322", kRolandReply,
         {"41 " + Name({0x41}) + " dev=16 family=322 [42 02] member=0 [00 00] version=01 02 03 04"}, {}},
        {"three-byte maker 00 20 33, member 0x0105 = 05 02 LSB first",
         {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x00, 0x20, 0x33, 0x0A, 0x00, 0x05, 0x02, 0x00, 0x00, 0x01, 0x00, 0xF7},
         {"00 20 33 " + Name({0x00, 0x20, 0x33}) + " dev=0 family=10 [0A 00] member=261 [05 02] version=00 00 01 00"}, {}},
        {"two devices answer, with clock and another message between",
         {0xF0, 0x7E, 0x10, 0x06, 0x02, 0x41, 0x17, 0x02, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0xF7,  // E-09
          0xF8, 0x90, 0x40, 0x7F,                                                                     // not SysEx
          0xF0, 0x7E, 0x01, 0x06, 0xFE, 0x02, 0x42, 0x19, 0x00, 0x00, 0x00, 0x03, 0x00, 0x01, 0x00, 0xF7},  // M1
         {"41 " + Name({0x41}) + " dev=16 family=279 [17 02] member=0 [00 00] version=00 07 00 00",
          "42 " + Name({0x42}) + " dev=1 family=25 [19 00] member=0 [00 00] version=03 00 01 00"},
         {}},
        {"maker not in the table",
         {0xF0, 0x7E, 0x05, 0x06, 0x02, 0x00, 0x7F, 0x7F, 0x01, 0x00, 0x02, 0x00, 1, 2, 3, 4, 0xF7},
         {"00 7F 7F  dev=5 family=1 [01 00] member=2 [02 00] version=01 02 03 04"}, {}},
        {"the same unit heard twice is listed once", testsupport::Concat({kRolandReply, kRolandReply}),
         {"41 " + Name({0x41}) + " dev=16 family=322 [42 02] member=0 [00 00] version=01 02 03 04"}, {}},
        {"malformed: short, cut by a status byte, too long, no F7 at the end; the request and a GM On are no answer",
         testsupport::Concat({{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7},
                              {0xF0, 0x7E, 0x10, 0x06, 0x02, 0x41, 0x42, 0x02, 0x00, 0x00, 0x01, 0x02, 0x03, 0xF7},
                              {0xF0, 0x7E, 0x10, 0x06, 0x02, 0x41, 0x42, 0x02, 0x90},
                              {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7},
                              {0xF0, 0x7E, 0x11, 0x06, 0x02}, Bytes(70, 0x01), {0xF7},
                              {0xF0, 0x7E, 0x12, 0x06, 0x02, 0x41}}),
         {},
         {"F0 7E 10 06 02 41 42 02 00 00 01 02 03 F7", "F0 7E 10 06 02 41 42 02",
          "F0 7E 11 06 02" + [] {
              std::string ones;
              for (int i = 0; i < 59; ++i) ones += " 01";
              return ones;
          }(),
          "F0 7E 12 06 02 41"}},
    };
    for (const ReplyCase& c : cases) {
        sysex::ReplyCollector collector;
        // In two pieces, split inside a message, as a port's events may cut a stream.
        const std::size_t half = c.stream.size() / 2;
        collector.Feed(std::span(c.stream).first(half));
        collector.Feed(std::span(c.stream).subspan(half));
        const sysex::IdentifyAnswers answers = sysex::SortIdentifyAnswers(collector.Take());
        std::vector<std::string> lines, malformed;
        for (const auto& reply : answers.replies) lines.push_back(Line(reply));
        for (const auto& message : answers.malformed) malformed.push_back(sysex::MessageHexText(message));
        EXPECT_EQ(lines, c.lines) << c.what;
        EXPECT_EQ(malformed, c.malformed) << c.what;
    }
}

// What a person reads: the bytes as manuals write them, and a wrong answer told as one.
TEST(Identity, AnswersAreToldInTheManualsTerms) {
    sysex::IdentifyAnswers answers;
    answers.replies.push_back(*sysex::ParseIdentityReply(kRolandReply));
    EXPECT_EQ(sysex::IdentifyAnswersText(answers),
              "機器 ID 10H  " + Name({0x41}) + " (41H)  ファミリー 42H 02H (322)  メンバー 00H 00H (0)  バージョン 01H 02H 03H 04H");
    answers.replies.clear();
    answers.malformed.push_back({0xF0, 0x7E, 0x10, 0x06, 0x02, 0x41});
    EXPECT_EQ(sysex::IdentifyAnswersText(answers),
              "応答はありましたが、正しい Identity Reply ではありません (長さが違う、F7 がない、など)\n"
              "Identity Reply として読めない応答: F0 7E 10 06 02 41");
}

// A late reply to an earlier request, also one still under way, is set aside before ours goes out.
TEST(Identity, WhatCameBeforeTheRequestIsDiscarded) {
    sysex::ReplyCollector collector;
    collector.Feed(kRolandReply);
    collector.Feed(std::span(kRolandReply).first(6));
    collector.Discard();
    collector.Feed(std::span(kRolandReply).subspan(6));
    EXPECT_TRUE(collector.Take().empty());
}

struct BuildCase {
    const char* name;
    std::vector<std::string> values;
    Bytes bytes;
};

// Expected bytes as the documents named in the table give them.
TEST(NamedRequests, BuildTheDocumentedBytes) {
    const std::vector<BuildCase> cases{
        {"identity", {}, {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}},
        // IDs are hexadecimal bare, and 0x and H say so anywhere.
        {"identity", {"device=10"}, {0xF0, 0x7E, 0x10, 0x06, 0x01, 0xF7}},
        {"identity", {"device=0x10"}, {0xF0, 0x7E, 0x10, 0x06, 0x01, 0xF7}},
        {"identity", {"device=7fh"}, {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}},
        {"sample-dump", {"device=00", "sample=0081"}, {0xF0, 0x7E, 0x00, 0x03, 0x01, 0x01, 0xF7}},
        {"tuning-dump", {"device=01", "program=16"}, {0xF0, 0x7E, 0x01, 0x08, 0x00, 0x10, 0xF7}},
        // Roland: 40+00+00+00+00+7F = BF; 80H - 3FH = 41H.
        {"roland-rq1", {"device=10", "model=42", "address=400000", "size=00007F"},
         {0xF0, 0x41, 0x10, 0x42, 0x11, 0x40, 0x00, 0x00, 0x00, 0x00, 0x7F, 0x41, 0xF7}},
        // A sum of 80H: the checksum is 00, never 80H.
        {"roland-rq1", {"model=42", "address=400000", "size=000040"},
         {0xF0, 0x41, 0x10, 0x42, 0x11, 0x40, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0xF7}},
        {"roland-rq1", {"model=004D", "address=10000000H", "size=00000100"},
         {0xF0, 0x41, 0x10, 0x00, 0x4D, 0x11, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x6F, 0xF7}},
        // Channels as musicians count them: 1-16, also when written in hexadecimal (10H = 16).
        {"korg-m1-program", {"channel=1"}, {0xF0, 0x42, 0x30, 0x19, 0x10, 0xF7}},
        {"korg-m1-combination", {"channel=16"}, {0xF0, 0x42, 0x3F, 0x19, 0x19, 0xF7}},
        {"korg-m1-combination", {"channel=10H"}, {0xF0, 0x42, 0x3F, 0x19, 0x19, 0xF7}},
        {"korg-ds8-voice", {"channel=3"}, {0xF0, 0x42, 0x32, 0x13, 0x10, 0xF7}},
        {"korg-ds8-all", {}, {0xF0, 0x42, 0x30, 0x13, 0x1C, 0xF7}},
        {"yamaha-dx100-voice", {"channel=2"}, {0xF0, 0x43, 0x21, 0x03, 0xF7}},
        {"yamaha-dx100-bank", {}, {0xF0, 0x43, 0x20, 0x04, 0xF7}},
        {"kawai-k1-patch", {"channel=4", "memory=1", "program=63"}, {0xF0, 0x40, 0x03, 0x00, 0x00, 0x03, 0x01, 0x3F, 0xF7}},
        {"kawai-k1-all", {"group=40"}, {0xF0, 0x40, 0x00, 0x01, 0x00, 0x03, 0x00, 0x40, 0xF7}},
        // Patches as the manual numbers them, 0-99: patch 50 is 32H, and 50H is patch 80.
        {"oberheim-m1000-patch", {"program=50"}, {0xF0, 0x10, 0x06, 0x04, 0x01, 0x32, 0xF7}},
        {"oberheim-m1000-patch", {"program=50H"}, {0xF0, 0x10, 0x06, 0x04, 0x01, 0x50, 0xF7}},
        {"oberheim-m1000-patch", {"program=0x63"}, {0xF0, 0x10, 0x06, 0x04, 0x01, 0x63, 0xF7}},
        {"oberheim-m1000-patch", {"program=99"}, {0xF0, 0x10, 0x06, 0x04, 0x01, 0x63, 0xF7}},
        {"oberheim-m1000-bank", {}, {0xF0, 0x10, 0x06, 0x04, 0x00, 0x00, 0xF7}},
        {"oberheim-m1000-master", {}, {0xF0, 0x10, 0x06, 0x04, 0x03, 0x00, 0xF7}},
    };
    for (const BuildCase& c : cases) {
        const sysex::BuiltRequest built = sysex::BuildNamedRequest(c.name, c.values);
        EXPECT_EQ(built.problem, "") << c.name;
        EXPECT_EQ(built.bytes, c.bytes) << c.name;
    }
}

TEST(NamedRequests, MakersComeFromTheMakersTable) {
    std::vector<std::string> makers;
    for (const sysex::NamedRequest& r : sysex::NamedRequests()) {
        EXPECT_FALSE(r.manufacturer.empty()) << r.name;
        // A document a user can open: a public address, never an index's number.
        EXPECT_NE(r.source.find("http"), std::string::npos) << r.name;
        EXPECT_EQ(r.source.find("index"), std::string::npos) << r.name;
        if (r.form.rfind("F0 7E", 0) != 0 && std::find(makers.begin(), makers.end(), r.manufacturer) == makers.end()) {
            makers.push_back(r.manufacturer);
        }
    }
    EXPECT_GE(makers.size(), 3u);
}

struct RefusalCase {
    const char* name;
    std::vector<std::string> values;
    const char* problem;
};

TEST(NamedRequests, RefuseValuesNamingTheRange) {
    const std::vector<RefusalCase> cases{
        {"roland-rq1", {"device=20", "model=42", "address=400000", "size=00007F"},
         "roland-rq1 の device (機器 ID) は 00H-1FH で指定してください (「20」)"},
        {"roland-rq1", {"model=42", "address=4000", "size=00007F"},
         "roland-rq1 の address と size は同じバイト数で指定してください"},
        {"roland-rq1", {"model=42", "address=400080", "size=00007F"},
         "roland-rq1 の address (アドレス) は 1-4 バイト (各 00H-7FH) で指定してください (「400080」)"},
        {"roland-rq1", {"model=42", "address=40"}, "roland-rq1 には size (サイズ, 1-4 バイト (各 00H-7FH)) の指定が必要です"},
        {"korg-m1-program", {"channel=17"}, "korg-m1-program の channel (MIDI チャンネル) は 1-16 で指定してください (「17」)"},
        {"korg-m1-program", {"channel=0"}, "korg-m1-program の channel (MIDI チャンネル) は 1-16 で指定してください (「0」)"},
        {"korg-m1-program", {"channel=F"}, "korg-m1-program の channel (MIDI チャンネル) は 1-16 で指定してください (「F」)"},
        {"oberheim-m1000-patch", {"program=100"},
         "oberheim-m1000-patch の program (パッチ番号) は 0-99 で指定してください (「100」)"},
        {"oberheim-m1000-patch", {"program=64H"},
         "oberheim-m1000-patch の program (パッチ番号) は 0-99 で指定してください (「64H」)"},
        {"identity", {"device=0x80"}, "identity の device (機器 ID) は 00H-7FH で指定してください (「0x80」)"},
        {"identity", {"device=-1"}, "identity の device (機器 ID) は 00H-7FH で指定してください (「-1」)"},
        {"kawai-k1-all", {"group=10"},
         "kawai-k1-all の group (パッチの種類) は 00H, 20H, 40H で指定してください (「10」)"},
        {"sample-dump", {"device=0", "sample=4000"},
         "sample-dump の sample (サンプル番号) は 0000H-3FFFH で指定してください (「4000」)"},
        {"identity", {"bank=1"}, "identity に bank というパラメータはありません (device)"},
        {"identity", {"device=1", "device=2"}, "identity の device が 2 回指定されています"},
        {"identity", {"device"}, "「device」はパラメータ=値 の形ではありません"},
        {"identity", {"device=x1"}, "identity の device (機器 ID) は 00H-7FH で指定してください (「x1」)"},
        {"nord-all", {}, "「nord-all」という名前の要求はありません (一覧は kelvane-cli requests)"},
    };
    for (const RefusalCase& c : cases) {
        const sysex::BuiltRequest built = sysex::BuildNamedRequest(c.name, c.values);
        EXPECT_EQ(built.problem, c.problem) << c.name;
        EXPECT_TRUE(built.bytes.empty()) << c.name;
    }
}

struct MeaningCase {
    Bytes message;
    std::optional<std::string> meaning;
};

TEST(Meaning, UniversalMessagesAndNamedRequests) {
    const std::vector<MeaningCase> cases{
        {{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, "GM System On"},
        {{0xF0, 0x7E, 0x7F, 0x09, 0x02, 0xF7}, "GM System Off"},
        {{0xF0, 0x7E, 0x7F, 0x09, 0x03, 0xF7}, "GM2 System On"},
        {{0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x7F, 0x7F, 0xF7}, "Master Volume 16383"},
        {{0xF0, 0x7F, 0x7F, 0x04, 0x02, 0x00, 0x40, 0xF7}, "Master Balance 8192"},
        {{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, "Identity Request"},
        {{0xF0, 0x7E, 0x10, 0x06, 0x02, 0x41, 0x42, 0x02, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0xF7},
         "Identity Reply: " + Name({0x41}) + " (41H), family 42H 02H (322), member 00H 00H (0), version 01H 02H 03H 04H"},
        {{0xF0, 0x7E, 0x00, 0x01, 0x05, 0x00, 0x10, 0xF7}, "Sample Dump Header (sample 5)"},
        {{0xF0, 0x7E, 0x00, 0x02, 0x11, 0x00, 0xF7}, "Sample Data Packet (packet 17)"},
        {{0xF0, 0x7E, 0x00, 0x03, 0x01, 0x01, 0xF7}, "Sample Dump Request (sample 129)"},
        {{0xF0, 0x7E, 0x01, 0x08, 0x00, 0x10, 0xF7}, "MIDI Tuning Bulk Dump Request (program 16)"},
        {{0xF0, 0x7E, 0x00, 0x07, 0x03, 0x00, 0xF7}, "File Dump Request"},
        {{0xF0, 0x41, 0x10, 0x42, 0x11, 0x40, 0x00, 0x00, 0x00, 0x00, 0x7F, 0x41, 0xF7}, "Roland RQ1 address 40H 00H 00H, size 00H 00H 7FH (127 bytes)"},
        {{0xF0, 0x41, 0x10, 0x00, 0x4D, 0x11, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x6F, 0xF7},
         "Roland RQ1 address 10H 00H 00H 00H, size 00H 00H 01H 00H (128 bytes)"},
        {{0xF0, 0x42, 0x35, 0x19, 0x10, 0xF7}, "KORG M1 Program Parameter Dump Request (channel 6)"},
        {{0xF0, 0x10, 0x06, 0x04, 0x01, 0x05, 0xF7}, "Oberheim Matrix-1000 Single Patch Request (program 5)"},
        {{0xF0, 0x7E, 0x10, 0x06, 0x01, 0xF7}, "Identity Request"},
        {{0xF0, 0x7E, 0x10, 0x08, 0x00, 0x10, 0xF7}, "MIDI Tuning Bulk Dump Request (program 16)"},
        {{0xF0, 0x43, 0x2F, 0x04, 0xF7}, "Yamaha DX100 32 Voice Dump Request (channel 16)"},
        // A wrong checksum is no RQ1; a Data Set is no request; unknown forms mean nothing.
        {{0xF0, 0x41, 0x10, 0x42, 0x11, 0x40, 0x00, 0x00, 0x00, 0x00, 0x7F, 0x40, 0xF7}, std::nullopt},
        {{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}, std::nullopt},
        {{0xF0, 0x10, 0x06, 0x04, 0x01, 0x64, 0xF7}, std::nullopt},
        {{0xF0, 0x7D, 0x01, 0xF7}, std::nullopt},
    };
    for (const MeaningCase& c : cases) {
        EXPECT_EQ(sysex::MessageMeaning(c.message), c.meaning) << testing::PrintToString(c.message);
    }
}

struct RewriteCase {
    const char* what;
    Bytes message;
    int limit;
    std::uint8_t id;
    Bytes after;
};

TEST(DeviceId, RewritesPerFamily) {
    const std::vector<RewriteCase> cases{
        {"Roland DT1: byte 2, the sum covers only address and data",
         {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}, 0x1F, 0x11,
         {0xF0, 0x41, 0x11, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}},
        {"Roland with a byte above 1FH there (Juno-106 style): none", {0xF0, 0x41, 0x30, 0x00, 0x01, 0xF7}, -1, 0x05,
         {0xF0, 0x41, 0x30, 0x00, 0x01, 0xF7}},
        {"Yamaha bulk 0n keeps its high nibble", {0xF0, 0x43, 0x00, 0x09, 0x00, 0x01, 0x05, 0x7B, 0xF7}, 0x0F, 0x0A,
         {0xF0, 0x43, 0x0A, 0x09, 0x00, 0x01, 0x05, 0x7B, 0xF7}},
        {"Yamaha parameter change 1n", {0xF0, 0x43, 0x13, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}, 0x0F, 0x01,
         {0xF0, 0x43, 0x11, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}},
        {"Yamaha 4n form: none", {0xF0, 0x43, 0x40, 0x01, 0xF7}, -1, 0x01, {0xF0, 0x43, 0x40, 0x01, 0xF7}},
        {"KORG 3n", {0xF0, 0x42, 0x30, 0x19, 0x10, 0xF7}, 0x0F, 0x0F, {0xF0, 0x42, 0x3F, 0x19, 0x10, 0xF7}},
        {"KORG 4n (device inquiry): none", {0xF0, 0x42, 0x40, 0xF7}, -1, 0x01, {0xF0, 0x42, 0x40, 0xF7}},
        {"universal GM On to one device", {0xF0, 0x7E, 0x10, 0x09, 0x01, 0xF7}, 0x7F, 0x12,
         {0xF0, 0x7E, 0x12, 0x09, 0x01, 0xF7}},
        {"universal broadcast stays", {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, -1, 0x12,
         {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}},
        {"sample data packet: XOR of 7E dev 02 pp data follows",
         {0xF0, 0x7E, 0x01, 0x02, 0x00, 0x10, 0x20, 0x7E ^ 0x01 ^ 0x02 ^ 0x00 ^ 0x10 ^ 0x20, 0xF7}, 0x7F, 0x05,
         {0xF0, 0x7E, 0x05, 0x02, 0x00, 0x10, 0x20, 0x7E ^ 0x05 ^ 0x02 ^ 0x00 ^ 0x10 ^ 0x20, 0xF7}},
        {"file dump data packet: XOR of 7E dev 07 02 pp count data, the device byte included",
         {0xF0, 0x7E, 0x00, 0x07, 0x02, 0x00, 0x01, 0x4D, 0x54, 0x7E ^ 0x00 ^ 0x07 ^ 0x02 ^ 0x00 ^ 0x01 ^ 0x4D ^ 0x54, 0xF7},
         0x7F, 0x05,
         {0xF0, 0x7E, 0x05, 0x07, 0x02, 0x00, 0x01, 0x4D, 0x54, 0x7E ^ 0x05 ^ 0x07 ^ 0x02 ^ 0x00 ^ 0x01 ^ 0x4D ^ 0x54, 0xF7}},
        {"tuning bulk dump: XOR from 7E on", {0xF0, 0x7E, 0x10, 0x08, 0x01, 0x03, 0x41, 0x7E ^ 0x10 ^ 0x08 ^ 0x01 ^ 0x03 ^ 0x41, 0xF7},
         0x7F, 0x00, {0xF0, 0x7E, 0x00, 0x08, 0x01, 0x03, 0x41, 0x7E ^ 0x00 ^ 0x08 ^ 0x01 ^ 0x03 ^ 0x41, 0xF7}},
        {"file dump header: no checksum", {0xF0, 0x7E, 0x00, 0x07, 0x01, 0x10, 0x4D, 0xF7}, 0x7F, 0x05,
         {0xF0, 0x7E, 0x05, 0x07, 0x01, 0x10, 0x4D, 0xF7}},
        {"other makers unchanged", {0xF0, 0x10, 0x06, 0x04, 0x01, 0x05, 0xF7}, -1, 0x01,
         {0xF0, 0x10, 0x06, 0x04, 0x01, 0x05, 0xF7}},
    };
    for (const RewriteCase& c : cases) {
        EXPECT_EQ(sysex::DeviceIdLimit(c.message), c.limit) << c.what;
        Bytes message = c.message;
        sysex::SetDeviceId(message, c.id);
        EXPECT_EQ(message, c.after) << c.what;
    }
}

TEST(DeviceId, NumbersAFormCannotHoldAreRefusedNamingTheFirstMessage) {
    const std::vector<Bytes> messages{
        {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7},                // broadcast: any number
        {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7},  // 00H-1FH
        {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7},              // 0H-FH
    };
    const std::vector<int> numbers{3, 4, 9};
    EXPECT_EQ(sysex::DeviceIdProblem(messages, numbers, 0x0F), "");
    EXPECT_EQ(sysex::DeviceIdProblem(messages, numbers, 0x10), "メッセージ 0010 の形式は機器 ID 10H を持てません (00H-0FH)");
    EXPECT_EQ(sysex::DeviceIdProblem(messages, numbers, 0x20), "メッセージ 0005 の形式は機器 ID 20H を持てません (00H-1FH)");
    EXPECT_EQ(sysex::DeviceIdProblem(messages, numbers, 0x80), "機器 ID は 00H-7FH (0-127) の範囲で指定してください (128)");
}

}  // namespace
