// The dump scan: which bytes become messages, and what lands in the store.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Messages.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace {

using testsupport::Bytes;

struct ScanCase {
    const char* name;
    Bytes file;
    std::vector<Bytes> messages;  // each with its F0 and F7
    std::vector<std::string> lines;
};

class ScanTable : public ::testing::TestWithParam<ScanCase> {
protected:
    void SetUp() override { sysex::ResetStoreForTests(); }
};

TEST_P(ScanTable, StoresEachF0ToF7RunAsOneMessage) {
    const ScanCase& c = GetParam();
    const auto result = sysex::ScanDump(c.file.data(), c.file.size());
    ASSERT_EQ(sysex::SysExCount, static_cast<int>(c.messages.size()));
    EXPECT_FALSE(result.DroppedAnything());
    for (std::size_t k = 0; k < c.messages.size(); ++k) {
        const Bytes& m = c.messages[k];
        EXPECT_EQ(sysex::SysExLen[k], m.size() - 1) << "message " << k;
        EXPECT_EQ(Bytes(sysex::SysExData[k], sysex::SysExData[k] + m.size()), m) << "message " << k;
        EXPECT_EQ(sysex::ListLine(static_cast<int>(k)), c.lines[k]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Dumps, ScanTable,
    ::testing::Values(
        ScanCase{"Empty", {}, {}, {}},
        ScanCase{"NoF0", {0x00, 0x41, 0xF7, 0x90, 0x3C}, {}, {}},
        ScanCase{"ShortestMessage", {0xF0, 0xF7}, {{0xF0, 0xF7}}, {"0001 1Byte"}},
        ScanCase{"KorgGetsMarker", {0xF0, 0x42, 0x30, 0x28, 0x40, 0xF7},
                 {{0xF0, 0x42, 0x30, 0x28, 0x40, 0xF7}}, {"0001 42H 5Byte"}},
        ScanCase{"OnlyByteOneCounts", {0xF0, 0x43, 0x10, 0x4C, 0x42, 0xF7},
                 {{0xF0, 0x43, 0x10, 0x4C, 0x42, 0xF7}}, {"0001 5Byte"}},
        // A second F0 before the F7 is data, not a new message.
        ScanCase{"InnerF0IsData", {0xF0, 0x41, 0xF0, 0x42, 0xF7},
                 {{0xF0, 0x41, 0xF0, 0x42, 0xF7}}, {"0001 4Byte"}},
        ScanCase{"JunkAroundAndStrayF7",
                 {0x12, 0xF7, 0xF0, 0x7E, 0xF7, 0x90, 0xF7, 0xFE, 0xF0, 0x42, 0x01, 0xF7, 0x00},
                 {{0xF0, 0x7E, 0xF7}, {0xF0, 0x42, 0x01, 0xF7}},
                 {"0001 2Byte", "0002 42H 3Byte"}},
        // Status and real-time bytes inside a message are stored as they are.
        ScanCase{"StatusBytesInside", {0xF0, 0x90, 0xF8, 0xFF, 0xF7},
                 {{0xF0, 0x90, 0xF8, 0xFF, 0xF7}}, {"0001 4Byte"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A message by its stored length, as the store counts it (F0 up to the last data byte).
Bytes Message(std::size_t storedLength, std::uint8_t fill = 0x11) {
    return testsupport::FilledMessage(storedLength + 1, fill);
}

using testsupport::Concat;

class Scan : public ::testing::Test {
protected:
    void SetUp() override { sysex::ResetStoreForTests(); }
};

TEST_F(Scan, NumbersHaveFourDigitsUntilTheyNeedMore) {
    std::vector<Bytes> parts(1000, Bytes{0xF0, 0xF7});
    const Bytes file = Concat(parts);
    sysex::ScanDump(file.data(), file.size());
    ASSERT_EQ(sysex::SysExCount, 1000);
    EXPECT_EQ(sysex::ListLine(9), "0010 1Byte");
    EXPECT_EQ(sysex::ListLine(99), "0100 1Byte");
    EXPECT_EQ(sysex::ListLine(999), "1000 1Byte");
}

TEST_F(Scan, StoredLengthCountsF0ButNotF7) {
    const Bytes file = Message(1024, 0x42);
    sysex::ScanDump(file.data(), file.size());
    ASSERT_EQ(sysex::SysExCount, 1);
    EXPECT_EQ(sysex::SysExLen[0], 1024);
    EXPECT_EQ(sysex::ListLine(0), "0001 42H 1024Byte");
}

TEST_F(Scan, LongestMessageFitsItsSlotExactly) {
    const Bytes file = Concat({Message(65535), Message(3)});
    const auto result = sysex::ScanDump(file.data(), file.size());
    EXPECT_FALSE(result.DroppedAnything());
    ASSERT_EQ(sysex::SysExCount, 2);
    EXPECT_EQ(sysex::SysExLen[0], 65535);
    EXPECT_EQ(sysex::SysExData[0][65535], 0xF7);
    EXPECT_EQ(sysex::SysExLen[1], 3);
}

TEST_F(Scan, MessageCutByEndOfFileIsNotStored) {
    const Bytes file = Concat({Message(5), Bytes{0xF0, 0x41, 0x10}});
    const auto result = sysex::ScanDump(file.data(), file.size());
    EXPECT_TRUE(result.droppedUnterminated);
    EXPECT_EQ(sysex::SysExCount, 1);
    EXPECT_NE(sysex::DroppedNotice(result).find("途切れた"), std::string::npos);
}

// Beyond the static block's limits (1,000 messages, 65,535 bytes before the F7) messages go to
// storage that grows; every reader sees them all, in file order, whatever block sizes the file
// comes in.
struct BeyondCase {
    const char* name;
    std::size_t count;                                  // messages of stored length 2 ...
    std::vector<std::pair<std::size_t, std::size_t>> long_;  // ... but these (number, stored length)
};

class BeyondTheBlock : public ::testing::TestWithParam<BeyondCase> {
protected:
    void SetUp() override { sysex::ResetStoreForTests(); }
};

TEST_P(BeyondTheBlock, EveryMessageIsKeptAndReadBack) {
    const BeyondCase& c = GetParam();
    std::vector<Bytes> messages;
    for (std::size_t k = 0; k < c.count; ++k) messages.push_back(Message(2, static_cast<std::uint8_t>(k % 0x70)));
    for (const auto& [k, length] : c.long_) messages[k] = Message(length, static_cast<std::uint8_t>(k % 0x70));
    const Bytes file = Concat(messages);
    for (const std::size_t block : {std::size_t{7}, std::size_t{65536}, file.size()}) {
        sysex::DumpScanner scanner;
        for (std::size_t pos = 0; pos < file.size(); pos += block)
            scanner.Feed(file.data() + pos, std::min(block, file.size() - pos));
        const auto result = scanner.Finish();
        sysex::SysExCount = result.stored;
        EXPECT_FALSE(result.DroppedAnything());
        ASSERT_EQ(sysex::MessageCount(), static_cast<std::int32_t>(c.count)) << "block " << block;
        for (std::size_t k = 0; k < c.count; ++k) {
            const auto stored = sysex::MessageAt(static_cast<std::int32_t>(k));
            ASSERT_TRUE(Bytes(stored.begin(), stored.end()) == messages[k]) << "message " << k << ", block " << block;
            // A message that fits the block stays where the block's readers always found it.
            if (k < 1000 && messages[k].size() <= 65536) {
                EXPECT_EQ(sysex::SysExLen[k], messages[k].size() - 1) << k;
            }
        }
    }
    const std::size_t last = c.count - 1;
    const std::string number = std::to_string(last + 1);
    EXPECT_EQ(sysex::ListLine(static_cast<int>(last)),
              std::string(number.size() < 4 ? 4 - number.size() : 0, '0') + number + " " +
                  std::to_string(messages[last].size() - 1) + "Byte");
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BeyondTheBlock,
    ::testing::Values(BeyondCase{"Count999", 999, {}}, BeyondCase{"Count1000", 1000, {}},
                      BeyondCase{"Count1001", 1001, {}}, BeyondCase{"Count1500", 1500, {}},
                      BeyondCase{"Count10001", 10001, {{10000, 70000}}},
                      BeyondCase{"Longest65535InBlock", 3, {{1, 65535}}},
                      BeyondCase{"First65536", 3, {{0, 65536}}},
                      BeyondCase{"Long65536And70000AmongSlots", 1002, {{1, 65536}, {500, 70000}, {999, 65536}, {1000, 65535}}},
                      BeyondCase{"LongAfterTheBlock", 1003, {{1001, 200000}, {1002, 65536}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Scan, ExactlyThousandMessagesWithTrailingJunkDropsNothing) {
    std::vector<Bytes> parts(1000, Message(2));
    parts.push_back({0x00, 0xF7, 0x12});
    const Bytes file = Concat(parts);
    const auto result = sysex::ScanDump(file.data(), file.size());
    EXPECT_FALSE(result.DroppedAnything());
    EXPECT_EQ(sysex::SysExCount, 1000);
    EXPECT_EQ(sysex::DroppedNotice(result), "");
}

TEST_F(Scan, BlockBoundariesAnywhereGiveTheSameStore) {
    const Bytes file = Concat({Bytes{0x01}, Message(300, 0x33), Bytes{0xF7, 0x02}, Message(7, 0x44),
                               Message(1)});
    for (std::size_t block : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{4096}}) {
        sysex::ResetStoreForTests();
        sysex::DumpScanner scanner;
        for (std::size_t pos = 0; pos < file.size(); pos += block)
            scanner.Feed(file.data() + pos, std::min(block, file.size() - pos));
        const auto result = scanner.Finish();
        ASSERT_EQ(result.stored, 3) << "block " << block;
        EXPECT_EQ(sysex::SysExLen[0], 300);
        EXPECT_EQ(sysex::SysExLen[1], 7);
        EXPECT_EQ(sysex::SysExLen[2], 1);
        EXPECT_EQ(Bytes(sysex::SysExData[1], sysex::SysExData[1] + 8), Message(7, 0x44));
    }
}

TEST_F(Scan, ShorterLoadLeavesLaterSlotsAsTheyWere) {
    const Bytes five = Concat({Message(3, 1), Message(3, 2), Message(3, 3), Message(3, 4), Message(3, 5)});
    sysex::ScanDump(five.data(), five.size());
    const Bytes two = Concat({Message(2, 6), Message(2, 7)});
    sysex::ScanDump(two.data(), two.size());
    EXPECT_EQ(sysex::SysExCount, 2);
    EXPECT_EQ(sysex::SysExData[1][1], 7);
    EXPECT_EQ(sysex::SysExData[2][1], 3);
    EXPECT_EQ(sysex::SysExLen[4], 3);
}

// Received bytes: the rules of a live MIDI stream, where real-time bytes may interrupt a message
// and any other status byte means the sender abandoned it.
struct WireCase {
    const char* name;
    Bytes received;
    std::vector<Bytes> messages;
    std::int32_t cutOff;
};

class WireScanTable : public ::testing::TestWithParam<WireCase> {
protected:
    void SetUp() override { sysex::ResetStoreForTests(); }
};

TEST_P(WireScanTable, KeepsCompleteMessagesWithoutRealTimeBytes) {
    const WireCase& c = GetParam();
    // Whole and byte by byte: a backend hands bytes over in pieces of any size.
    for (std::size_t block : {c.received.size() + 1, std::size_t{1}}) {
        sysex::ResetStoreForTests();
        sysex::DumpScanner scanner(sysex::ScanRules::Wire);
        for (std::size_t pos = 0; pos < c.received.size(); pos += block)
            scanner.Feed(c.received.data() + pos, std::min(block, c.received.size() - pos));
        const auto result = scanner.Finish();
        ASSERT_EQ(result.stored, static_cast<int>(c.messages.size())) << "block " << block;
        EXPECT_EQ(result.droppedCutOff, c.cutOff) << "block " << block;
        EXPECT_FALSE(result.droppedUnterminated);
        for (std::size_t k = 0; k < c.messages.size(); ++k) {
            const Bytes& m = c.messages[k];
            EXPECT_EQ(sysex::SysExLen[k], m.size() - 1) << "message " << k;
            EXPECT_EQ(Bytes(sysex::SysExData[k], sysex::SysExData[k] + m.size()), m) << "message " << k;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Received, WireScanTable,
    ::testing::Values(
        WireCase{"Plain", {0xF0, 0x42, 0x30, 0xF7}, {{0xF0, 0x42, 0x30, 0xF7}}, 0},
        WireCase{"RealTimeInsideDropped", {0xF0, 0x41, 0xF8, 0x10, 0xFE, 0xFF, 0xFA, 0xF7},
                 {{0xF0, 0x41, 0x10, 0xF7}}, 0},
        WireCase{"RealTimeRightAfterF0", {0xF0, 0xF8, 0xF7}, {{0xF0, 0xF7}}, 0},
        WireCase{"RealTimeAndJunkOutside", {0xF8, 0x90, 0x3C, 0x40, 0xF7, 0xF0, 0x01, 0xF7, 0xFE},
                 {{0xF0, 0x01, 0xF7}}, 0},
        // Unlike a file, a second F0 abandons the first message and begins its own.
        WireCase{"F0CutsAndBegins", {0xF0, 0x41, 0xF0, 0x42, 0xF7}, {{0xF0, 0x42, 0xF7}}, 1},
        // The bytes after the cutting status byte are its data, not the message's.
        WireCase{"ChannelStatusCuts", {0xF0, 0x41, 0xB0, 0x07, 0x10, 0xF7, 0xF0, 0x43, 0xF7},
                 {{0xF0, 0x43, 0xF7}}, 1},
        WireCase{"SystemCommonCuts", {0xF0, 0x41, 0xF1, 0x10, 0xF0, 0x44, 0xF7}, {{0xF0, 0x44, 0xF7}}, 1},
        WireCase{"EndOfReceivingCuts", {0xF0, 0x7E, 0xF7, 0xF0, 0x41, 0x10}, {{0xF0, 0x7E, 0xF7}}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Scan, ReceivedLongestMessageFitsDespiteRealTimeBytesInside) {
    Bytes received = Message(65535, 0x11);
    // A clock byte every 1000 bytes makes the stream longer than a slot but not the message.
    for (std::size_t at = 1000; at < received.size(); at += 1001) received.insert(received.begin() + at, 0xF8);
    sysex::DumpScanner scanner(sysex::ScanRules::Wire);
    scanner.Feed(received.data(), received.size());
    const auto result = scanner.Finish();
    EXPECT_FALSE(result.DroppedAnything());
    ASSERT_EQ(result.stored, 1);
    EXPECT_EQ(Bytes(sysex::SysExData[0], sysex::SysExData[0] + 65536), Message(65535, 0x11));
}

TEST_F(Scan, ReceivesIntoSlotsOtherThanTheStore) {
    static std::uint8_t slots[sysex::MaxSysEx][sysex::SlotSize];
    static std::uint16_t lengths[sysex::MaxSysEx];
    sysex::GrownMessages grown;
    sysex::StoreWriter writer(slots, lengths, grown);
    const Bytes received{0xF0, 0x12, 0xF7};
    sysex::DumpScanner scanner(sysex::ScanRules::Wire, writer);
    scanner.Feed(received.data(), received.size());
    EXPECT_EQ(scanner.Finish().stored, 1);
    EXPECT_EQ(Bytes(slots[0], slots[0] + 3), received);
    EXPECT_EQ(lengths[0], 2);
    EXPECT_EQ(sysex::SysExData[0][0], 0);
}

// A load speaks of reading, a reception of recording.
TEST(DroppedNotice, LoadsReadAndReceptionsRecord) {
    sysex::ScanResult result;
    result.droppedCutOff = 3;
    EXPECT_EQ(sysex::DroppedNotice(result), "途中で途切れたメッセージ (F7 がないもの) 3 件は読み込みませんでした");
    EXPECT_EQ(sysex::DroppedNotice(result, sysex::DroppedFrom::Reception),
              "途中で途切れたメッセージ (F7 がないもの) 3 件は記録しませんでした");
    sysex::ScanResult full;
    full.stored = 1200;
    full.stoppedOutOfMemory = true;
    EXPECT_EQ(sysex::DroppedNotice(full), "メモリーが足りないため、1201 件目以降は読み込みませんでした");
}

TEST(DroppedNotice, SaysNothingWhenNothingWasDropped) {
    EXPECT_EQ(sysex::DroppedNotice({}), "");
}

}  // namespace
