// Loading real files: what a failed open leaves behind, and the message it raises.

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "Messages.h"
#include "TempDir.h"
#include "Unprivileged.h"
#include "common/Failure.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace {

using testsupport::Bytes;

class LoadFile : public ::testing::Test {
protected:
    void SetUp() override {
        sysex::ResetStoreForTests();
        const Bytes earlier{0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7, 0xF0, 0x43, 0xF7};
        sysex::LoadDumpFile(dir.Write("earlier.syx", earlier));
        ASSERT_EQ(sysex::SysExCount, 2);
    }
    void ExpectEarlierStoreKept() {
        EXPECT_EQ(sysex::SysExCount, 2);
        EXPECT_EQ(sysex::SysExLen[0], 5);
        EXPECT_EQ(sysex::SysExData[1][1], 0x43);
    }
    std::string FailureOf(const std::string& path) {
        try {
            sysex::LoadDumpFile(path);
        } catch (const kelvane::Failure& failure) {
            return failure.what();
        }
        return "(no failure)";
    }
    testsupport::TempDir dir;
};

TEST_F(LoadFile, ReadsAWholeFileIntoTheStore) {
    Bytes big;
    for (std::uint8_t k = 0; k < 40; ++k) testsupport::Append(big, testsupport::FilledMessage(50000, k));
    const auto result = sysex::LoadDumpFile(dir.Write("big.syx", big));
    EXPECT_FALSE(result.DroppedAnything());
    ASSERT_EQ(sysex::SysExCount, 40);
    EXPECT_EQ(sysex::SysExLen[39], 49999);
    EXPECT_EQ(sysex::SysExData[39][49998], 39);
    EXPECT_EQ(sysex::SysExData[39][49999], 0xF7);
}

TEST_F(LoadFile, MissingFileNamesItsFullPathAndKeepsTheStore) {
    const std::string path = dir.File("nothing here.syx").string();
    EXPECT_EQ(FailureOf(path), "ファイル " + path + " は開けません");
    ExpectEarlierStoreKept();
}

TEST_F(LoadFile, DirectoryCannotBeOpened) {
    const std::string path = dir.Path().string();
    EXPECT_EQ(FailureOf(path), "ファイル " + path + " は開けません");
    ExpectEarlierStoreKept();
}

TEST_F(LoadFile, FifoIsRefusedInsteadOfWaitingForAWriter) {
    const std::string path = dir.File("pipe.syx").string();
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(FailureOf(path), "ファイル " + path + " は開けません");
    ExpectEarlierStoreKept();
}

TEST_F(LoadFile, UnreadableFileCannotBeOpened) {
    const std::string path = dir.Write("secret.syx", {0xF0, 0xF7});
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::all);  // let "nobody" in
    std::filesystem::permissions(path, std::filesystem::perms::none);
    const auto status = testsupport::RunUnprivileged(
        [&] { return FailureOf(path) == "ファイル " + path + " は開けません" ? 0 : 1; });
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
}

}  // namespace
