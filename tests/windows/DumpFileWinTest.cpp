// The Win32 dump-file reader: wide names, no sharing, and the one failure text for every
// file it cannot read.

#include <gtest/gtest.h>

#include <windows.h>

#include <optional>

#include "TempDir.h"
#include "WinFiles.h"
#include "common/Failure.h"
#include "sysex/DumpFile.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using wintest::Utf8;

std::string LoadFailure(const std::string& pathUtf8) {
    try {
        sysex::LoadDumpFile(pathUtf8);
    } catch (const kelvane::Failure& failure) {
        return failure.what();
    }
    return "(no failure)";
}

class WinDumpFile : public ::testing::Test {
protected:
    void SetUp() override { sysex::ResetStoreForTests(); }
    testsupport::TempDir dir;
};

TEST_F(WinDumpFile, LoadsAFileWhoseNameNoAnsiCodePageHolds) {
    auto name = wintest::NameOutsideCodePages();
    name += ".syx";
    const auto path = dir.Path() / name;
    wintest::WriteWholeFile(path, {0x00, 0xF0, 0x42, 0x30, 0xF7, 0xF7, 0xF0, 0x43, 0x10, 0xF7, 0x12});
    const auto result = sysex::LoadDumpFile(Utf8(path));
    EXPECT_FALSE(result.DroppedAnything());
    ASSERT_EQ(sysex::SysExCount, 2);
    EXPECT_EQ(sysex::ListLine(0), "0001 42H 3Byte");
    EXPECT_EQ(Bytes(sysex::SysExData[1], sysex::SysExData[1] + 4), (Bytes{0xF0, 0x43, 0x10, 0xF7}));
}

TEST_F(WinDumpFile, ReadsInBlocksUntilTheEnd) {
    Bytes content(300000);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 7);
    const std::string path = dir.Write("blocks.syx", content);
    sysex::DumpFile file(path);
    Bytes read;
    std::uint8_t buffer[65536];
    for (std::size_t got; (got = file.Read(buffer, sizeof buffer)) != 0;) read.insert(read.end(), buffer, buffer + got);
    EXPECT_EQ(read, content);
}

TEST_F(WinDumpFile, KeepsOthersOutWhileItReads) {
    const auto path = dir.File("held.syx");
    dir.Write("held.syx", {0xF0, 0xF7});
    sysex::DumpFile file(Utf8(path));
    for (const DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_WRITE}}) {
        const wintest::HeldFile other(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        EXPECT_FALSE(other.IsOpen()) << "access " << access;
        EXPECT_EQ(other.Error(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << "access " << access;
    }
}

// Every way a chosen file can be out of reach gives the same text, with the path as chosen.
TEST_F(WinDumpFile, RefusesWhatItCannotRead) {
    const auto present = dir.File("present.syx");
    dir.Write("present.syx", {0xF0, 0x41, 0xF7});
    const std::string invalidUtf8 = Utf8(dir.Path()) + "\\bad\xFF.syx";
    struct Case {
        const char* what;
        std::string path;
        DWORD otherAccess;  // 0: nobody else holds the file
    };
    const Case cases[] = {
        {"missing file", Utf8(dir.File("nothing here.syx")), 0},
        {"missing folder", Utf8(dir.File("no folder") / "x.syx"), 0},
        {"a folder", Utf8(dir.Path()), 0},
        {"the NUL device", "NUL", 0},
        {"the console", "CON", 0},
        {"invalid UTF-8", invalidUtf8, 0},
        {"open elsewhere for reading", Utf8(present), GENERIC_READ},
        {"open elsewhere for writing", Utf8(present), GENERIC_WRITE},
    };
    for (const auto& c : cases) {
        std::optional<wintest::HeldFile> other;
        if (c.otherAccess != 0) {
            other.emplace(present, c.otherAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
            ASSERT_TRUE(other->IsOpen()) << c.what;
        }
        EXPECT_EQ(LoadFailure(c.path), "ファイル " + c.path + " は開けません") << c.what;
        EXPECT_EQ(sysex::SysExCount, 0) << c.what;
    }
    // A name cut short at a NUL would open present.syx; the failure's text ends at the NUL.
    const std::string withNul = Utf8(present) + std::string(1, '\0') + "tail";
    EXPECT_EQ(LoadFailure(withNul), "ファイル " + Utf8(present));
    EXPECT_EQ(sysex::SysExCount, 0);
    // Once the other handle is gone the same file loads.
    sysex::LoadDumpFile(Utf8(present));
    EXPECT_EQ(sysex::SysExCount, 1);
}

}  // namespace
