// A reception: progress while bytes come, when it stops by itself, and what reaches the store.

#include <gtest/gtest.h>

#include "Messages.h"
#include "sysex/Reception.h"
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
