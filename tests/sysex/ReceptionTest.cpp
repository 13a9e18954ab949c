// A reception: progress while bytes come, when it stops by itself, and what reaches the store.

#include <gtest/gtest.h>

#include "Messages.h"
#include "sysex/Reception.h"
#include "sysex/Request.h"
#include "sysex/Store.h"

namespace {

using testsupport::Bytes;
using Clock = sysex::Reception::Clock;
using std::chrono::milliseconds;

TEST(Reception, StoreChangesOnlyWhenMovedIn) {
    sysex::ResetStoreForTests();
    const Bytes old{0xF0, 0x01, 0xF7};
    sysex::ScanDump(old.data(), old.size());

    sysex::Reception reception;
    const Bytes first{0xF0, 0x42, 0xF8, 0x10, 0xF7, 0xF0, 0x43};
    reception.Feed(Bytes{0xFE, 0xF8});
    EXPECT_FALSE(reception.Now().heard) << "active sensing and clock are no sign of a dump";
    reception.Feed(first);
    const auto progress = reception.Now();
    EXPECT_TRUE(progress.heard);
    EXPECT_EQ(progress.messages, 1);
    EXPECT_EQ(progress.bytes, 6u) << "only the SysEx bytes count, not clock or active sensing";
    EXPECT_EQ(sysex::SysExCount, 1);
    EXPECT_EQ(sysex::SysExData[0][1], 0x01);

    const Bytes rest{0x20, 0xF7, 0xF0, 0x44};  // the last message never ends
    reception.Feed(rest);
    const auto result = reception.MoveIntoStore().scan;
    EXPECT_EQ(result.stored, 2);
    EXPECT_EQ(result.droppedCutOff, 1);
    ASSERT_EQ(sysex::SysExCount, 2);
    EXPECT_EQ(Bytes(sysex::SysExData[0], sysex::SysExData[0] + 4), (Bytes{0xF0, 0x42, 0x10, 0xF7}));
    EXPECT_EQ(Bytes(sysex::SysExData[1], sysex::SysExData[1] + 4), (Bytes{0xF0, 0x43, 0x20, 0xF7}));
    EXPECT_EQ(sysex::SysExLen[1], 3);
}

struct DoneCase {
    const char* name;
    std::int32_t messages;
    std::uint64_t bytes;
    bool full;
    bool heard;
    int sinceLastByteMs;
    int idleMs;
    std::int32_t count;
    bool done;
};

class ReceptionDoneTable : public ::testing::TestWithParam<DoneCase> {};

TEST_P(ReceptionDoneTable, StopsByIdleTimeCountOrFullStore) {
    const DoneCase& c = GetParam();
    const Clock::time_point now = Clock::now();
    sysex::Reception::Progress progress;
    progress.messages = c.messages;
    progress.bytes = c.bytes;
    progress.full = c.full;
    progress.heard = c.heard;
    progress.lastByteAt = now - milliseconds(c.sinceLastByteMs);
    EXPECT_EQ(sysex::ReceptionDone(progress, now, milliseconds(c.idleMs), c.count), c.done);
}

INSTANTIATE_TEST_SUITE_P(
    Progress, ReceptionDoneTable,
    ::testing::Values(DoneCase{"NothingYetNeverIdle", 0, 0, false, false, 5000, 1000, 0, false},
                      DoneCase{"RealTimeBytesOnlyNeverIdle", 0, 40, false, false, 5000, 1000, 0, false},
                      DoneCase{"IdleNotYetOver", 1, 10, false, true, 999, 1000, 0, false},
                      DoneCase{"IdleOver", 1, 10, false, true, 1000, 1000, 0, true},
                      DoneCase{"ZeroIdleMeansByHandOnly", 1, 10, false, true, 60000, 0, 0, false},
                      DoneCase{"CountReached", 3, 30, false, true, 0, 0, 3, true},
                      DoneCase{"CountNotReached", 2, 30, false, true, 0, 0, 3, false},
                      DoneCase{"StoreFull", 1000, 3000, true, true, 0, 0, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// A loss in the middle of a message drops it as damaged rather than splicing its ends; a whole
// message whose checksum is wrong is kept and named; a reception asked for N messages keeps N
// and counts the rest as not kept, never as cut off.
TEST(Reception, LossDropsTheOpenMessageAndTheKeepLimitCountsTheRest) {
    sysex::ResetStoreForTests();
    sysex::Reception lossy;
    lossy.Feed(Bytes{0xF0, 0x01, 0xF7, 0xF0, 0x02, 0x03});
    lossy.Lose(sysex::LossCause::Overflow, 2);
    lossy.Feed(Bytes{0x04, 0xF7, 0xF0, 0x05, 0xF7});  // the damaged message's tail, then a whole one
    lossy.Feed(Bytes{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x42, 0xF7});  // GS reset, sum 41H
    EXPECT_TRUE(lossy.Now().lost);
    EXPECT_FALSE(lossy.Now().ended);
    const sysex::ReceptionSummary summary = lossy.MoveIntoStore();
    EXPECT_EQ(summary.scan.stored, 3);
    EXPECT_EQ(summary.scan.droppedDamaged, 1);
    EXPECT_EQ(summary.losses.Events(sysex::LossCause::Overflow), 2u);
    EXPECT_TRUE(summary.LostAnything());
    EXPECT_EQ(Bytes(sysex::SysExData[1], sysex::SysExData[1] + 3), (Bytes{0xF0, 0x05, 0xF7}));
    EXPECT_EQ(sysex::ReceptionSummaryText(summary),
              "3 メッセージ (17 バイト) を記録しました\n"
              "受信中にデータが欠けたメッセージ 1 件は記録しませんでした\n"
              "受信が速すぎて受信バッファーがあふれ、データが 1 回失われました (2 イベント)\n"
              "チェックサムが合わないメッセージが 1 件あります: 0003");

    sysex::Reception counted(2);
    counted.Feed(Bytes{0xF0, 0x01, 0xF7, 0xF0, 0x02, 0xF7, 0xF0, 0x03, 0xF7, 0xF0, 0x04});
    counted.Lose(sysex::LossCause::SourceGone, 0);
    EXPECT_TRUE(counted.Now().ended);
    const sysex::ReceptionSummary kept = counted.MoveIntoStore();
    EXPECT_EQ(kept.scan.stored, 2);
    EXPECT_EQ(kept.scan.notKept, 2);
    EXPECT_EQ(kept.scan.droppedCutOff, 0);

    const std::int32_t before = sysex::SysExCount;
    sysex::Reception empty;
    empty.Feed(Bytes{0xF8, 0xFE, 0x90, 0x40, 0x7F});
    EXPECT_EQ(empty.Now().bytes, 0u) << "notes and real-time bytes are no part of a dump";
    EXPECT_EQ(sysex::ReceptionSummaryText(empty.MoveIntoStore()), "メッセージを受信しませんでした");
    EXPECT_EQ(sysex::SysExCount, before) << "nothing kept, nothing replaced";
}

TEST(Request, TypedHexIsCheckedAsAWholeMessage) {
    const struct {
        const char* text;
        const char* problem;
    } cases[] = {
        {"F0 7E 7F 06 01 F7", ""}, {"f07e7f0601f7", ""}, {"F0,41,10,F7", ""},
        {"", "要求を 16 進数で入力してください (例: F0 7E 7F 06 01 F7)"},
        {"F0 42 30", "要求は F7 で終わらなければなりません"},
        {"42 30 F7", "要求は F0 で始まらなければなりません"},
        {"F0 42 90 F7", "3 バイト目の 90H はデータバイト (00H-7FH) ではありません"},
        {"F0 4G F7", "「4G」は 16 進数のバイトではありません"}, {"F0 123 F7", "「123」は 16 進数のバイトではありません"},
    };
    for (const auto& c : cases) EXPECT_EQ(sysex::ParseRequestHex(c.text).problem, c.problem) << c.text;
    EXPECT_EQ(sysex::ParseRequestHex("f07e7f0601f7").bytes, (Bytes{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}));
}

}  // namespace
