#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>

#include "Files.h"
#include "SmfTestMessages.h"
#include "TempDir.h"
#include "common/Failure.h"
#include "common/InOutError.h"
#include "smf/SmfWriter.h"
#include "sysex/Store.h"

namespace smf::test {
namespace {

namespace fs = std::filesystem;
using kelvane::EInOutError;
using testsupport::ReadAll;

TEST(Vlq, EncodesOneToFourGroups) {
    const struct {
        std::uint32_t value;
        Bytes bytes;
    } cases[] = {
        {0, {0x00}},
        {5, {0x05}},
        {127, {0x7F}},
        {128, {0x81, 0x00}},
        {16383, {0xFF, 0x7F}},
        {16384, {0x81, 0x80, 0x00}},
        {65535, {0x83, 0xFF, 0x7F}},
        {2097151, {0xFF, 0xFF, 0x7F}},
        {2097152, {0x81, 0x80, 0x80, 0x00}},
        {0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const auto& c : cases) EXPECT_EQ(EncodeVlq(c.value), c.bytes) << c.value;
    EXPECT_THROW(EncodeVlq(0x10000000), std::out_of_range);
}

TEST(TrackBody, EventOfEachLengthClassCarriesTheMessageWithoutItsF0) {
    const struct {
        std::uint32_t storedLength;
        Bytes head;  // delta 60, F0, VLQ of the stored length
    } cases[] = {
        {1, {0x60, 0xF0, 0x01}},
        {127, {0x60, 0xF0, 0x7F}},
        {128, {0x60, 0xF0, 0x81, 0x00}},
        {16383, {0x60, 0xF0, 0xFF, 0x7F}},
        {16384, {0x60, 0xF0, 0x81, 0x80, 0x00}},
        {65535, {0x60, 0xF0, 0x83, 0xFF, 0x7F}},
        {2097152, {0x60, 0xF0, 0x81, 0x80, 0x80, 0x00}},
    };
    for (const auto& c : cases) {
        const Bytes message = StoredMessage(c.storedLength, c.storedLength);
        const sysex::MessageList one{1, [&message](std::int32_t) { return sysex::MessageBytes(message); }};
        Bytes expected = c.head;
        expected.insert(expected.end(), message.begin() + 1, message.end());
        EXPECT_EQ(BuildTrackBody(one), expected) << c.storedLength;
    }
}

class ExportStoreTest : public ::testing::Test {
protected:
    void TearDown() override { sysex::ResetStoreForTests(); }
    std::string Name(const std::string& file) const { return dir_.File(file).string(); }
    testsupport::TempDir dir_;
};

TEST_F(ExportStoreTest, GmSystemOnGivesThe34ByteFile) {
    FillStore({{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}});
    ExportStore(Name("gm.mid"));
    EXPECT_EQ(ReadAll(Name("gm.mid")),
              (Bytes{0x4D, 0x54, 0x68, 0x64, 0x00, 0x00, 0x00, 0x06,  // "MThd", length 6
                     0x00, 0x00, 0x00, 0x01, 0x00, 0x30,              // format 0, one track, division 48
                     0x4D, 0x54, 0x72, 0x6B, 0x00, 0x00, 0x00, 0x0C,  // "MTrk", length 12
                     0x60, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7,  // delta 96, SysEx of 5 bytes
                     0x30, 0xFF, 0x2F, 0x00}));                       // delta 48, End of Track
}

TEST_F(ExportStoreTest, SavesValidMessagesInStoreOrderAndNothingBeyondTheCount) {
    const std::vector<Bytes> messages = {StoredMessage(1, 1), StoredMessage(127, 2), StoredMessage(128, 3),
                                         StoredMessage(16384, 4), StoredMessage(5, 5)};
    std::vector<Bytes> withLeftovers = messages;
    withLeftovers.push_back(StoredMessage(300, 6));
    withLeftovers.push_back(StoredMessage(7, 7));
    FillStore(withLeftovers);
    sysex::SysExCount = static_cast<std::int32_t>(messages.size());

    ExportStore(Name("five.mid"));
    const Bytes file = ReadAll(Name("five.mid"));
    // Events of 4 + 130 + 132 + 16389 + 8 bytes and End of Track: 16,667 = 00 00 41 1B.
    ASSERT_GE(file.size(), 22u);
    EXPECT_EQ(Bytes(file.begin() + 18, file.begin() + 22), (Bytes{0x00, 0x00, 0x41, 0x1B}));
    EXPECT_EQ(file.size(), 26u + 16663u);
    EXPECT_EQ(file, ExpectedFile(messages));
}

TEST_F(ExportStoreTest, ReplacesALongerFileAndSavesTheSameBytesTwice) {
    dir_.Write("old.mid", Bytes(100000, 0xEE));
    FillStore({{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, StoredMessage(200, 1)});
    ExportStore(Name("old.mid"));
    ExportStore(Name("again.mid"));
    const Bytes expected = ExpectedFile({{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, StoredMessage(200, 1)});
    EXPECT_EQ(expected.size(), 26u + 8u + 204u);
    EXPECT_EQ(ReadAll(Name("old.mid")), expected);
    EXPECT_EQ(ReadAll(Name("again.mid")), expected);
}

TEST_F(ExportStoreTest, FullStoreOfLongestMessagesIsSavedWhole) {
    std::vector<Bytes> messages;
    for (unsigned k = 0; k < sysex::MaxSysEx; ++k) messages.push_back(StoredMessage(65535, k));
    FillStore(messages);
    ExportStore(Name("full.mid"));
    const Bytes file = ReadAll(Name("full.mid"));
    ASSERT_EQ(file.size(), 26u + 1000u * 65540u);
    // Track length 65,540,004 = 03 E8 0F A4.
    EXPECT_EQ(Bytes(file.begin() + 18, file.begin() + 22), (Bytes{0x03, 0xE8, 0x0F, 0xA4}));
    EXPECT_TRUE(file == ExpectedFile(messages));  // EXPECT_EQ would print 65 MB on failure
}

TEST_F(ExportStoreTest, NegativeCountLeavesAnExistingFileAlone) {
    dir_.Write("keep.mid", {0x01});
    sysex::SysExCount = -1;
    EXPECT_THROW(ExportStore(Name("keep.mid")), std::invalid_argument);
    EXPECT_EQ(ReadAll(Name("keep.mid")), Bytes{0x01});
}

TEST_F(ExportStoreTest, RefusedNamesCreateNothing) {
    dir_.Write("plain", {0x01});
    fs::create_directory(dir_.Path() / "folder");
    const struct {
        std::string name;
        std::string path;
        int code;
        std::string display;
    } cases[] = {
        {"missing folder", Name("missing/x.mid"), 3, "不正なファイル名です."},
        {"file as folder", Name("plain/x.mid"), 3, "不正なファイル名です."},
#ifndef _WIN32  // Windows reports its own code for an overlong name
        {"name too long", Name(std::string(300, 'n') + ".mid"), 3, "不正なファイル名です."},
#endif
        {"embedded NUL", Name("cut.mid") + std::string(1, '\0') + "tail", 3, "不正なファイル名です."},
        {"folder as target", Name("folder"), 5, "ファイルへのアクセスが拒否されました."},
    };
    FillStore({StoredMessage(6, 0)});
    for (const auto& c : cases) {
        try {
            ExportStore(c.path);
            ADD_FAILURE() << c.name << ": no failure";
        } catch (const EInOutError& error) {
            EXPECT_EQ(error.Code(), c.code) << c.name;
            EXPECT_EQ(kelvane::FailureDisplayText(error.what()), c.display) << c.name;
        }
    }
    EXPECT_FALSE(fs::exists(dir_.Path() / "missing"));
    EXPECT_FALSE(fs::exists(dir_.Path() / "cut.mid"));
    EXPECT_EQ(ReadAll(Name("plain")), Bytes{0x01});
}

}  // namespace
}  // namespace smf::test
