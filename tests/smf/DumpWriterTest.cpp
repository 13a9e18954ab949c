// Saving the store as a dump file: the messages back to back, and a file that loads back to
// the same store.

#include <gtest/gtest.h>

#include "Messages.h"
#include "Files.h"
#include "SmfTestMessages.h"
#include "TempDir.h"
#include "common/Failure.h"
#include "common/InOutError.h"
#include "smf/DumpWriter.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace smf::test {
namespace {

using kelvane::EInOutError;
using testsupport::ReadAll;

class DumpWriterTest : public ::testing::Test {
protected:
    void TearDown() override { sysex::ResetStoreForTests(); }
    std::string Name(const std::string& file) const { return dir_.File(file).string(); }
    testsupport::TempDir dir_;
};

TEST_F(DumpWriterTest, MessagesBackToBackLoadBackToTheSameStore) {
    // Twenty longest messages fill more than one write piece.
    std::vector<Bytes> messages{{0xF0, 0xF7}, {0xF0, 0x42, 0x30, 0xF7}};
    for (unsigned k = 0; k < 20; ++k) messages.push_back(StoredMessage(65535, k));
    FillStore(messages);
    dir_.Write("old.syx", Bytes(3000000, 0xEE));
    ExportStoreAsDump(Name("old.syx"));
    EXPECT_TRUE(testsupport::ReadAll(Name("old.syx")) == testsupport::Concat(messages));

    sysex::ResetStoreForTests();
    const auto result = sysex::LoadDumpFile(Name("old.syx"));
    EXPECT_FALSE(result.DroppedAnything());
    ASSERT_EQ(sysex::SysExCount, static_cast<int>(messages.size()));
    for (std::size_t k = 0; k < messages.size(); ++k) {
        EXPECT_TRUE(Bytes(sysex::SysExData[k], sysex::SysExData[k] + messages[k].size()) == messages[k]) << k;
    }
}

TEST_F(DumpWriterTest, FailsLikeTheSmfWriter) {
    dir_.Write("keep.syx", {0x01});
    FillStore({StoredMessage(6, 0)});
    try {
        ExportStoreAsDump(dir_.Path().string());
        ADD_FAILURE() << "a folder as target was accepted";
    } catch (const EInOutError& error) {
        EXPECT_EQ(error.Code(), 5);
        EXPECT_EQ(kelvane::FailureDisplayText(error.what()), "ファイルへのアクセスが拒否されました.");
    }
    sysex::SysExCount = -1;
    EXPECT_THROW(ExportStoreAsDump(Name("keep.syx")), std::invalid_argument);
    EXPECT_EQ(ReadAll(Name("keep.syx")), Bytes{0x01});
}

}  // namespace
}  // namespace smf::test
