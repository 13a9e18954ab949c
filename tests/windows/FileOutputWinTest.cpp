// The Win32 SMF file output: wide names, replacing without asking and only once the new file is
// complete, and Windows error codes taken straight as the file-error codes.

#include <gtest/gtest.h>

#include <windows.h>

#include <optional>

#include "Files.h"
#include "TempDir.h"
#include "WinFiles.h"
#include "common/FileOutput.h"
#include "common/InOutError.h"
#include "smf/SmfWriter.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using wintest::Utf8;

struct Outcome {
    int code = 0;
    std::string text;
};

Outcome CreateFailure(const std::string& pathUtf8) {
    try {
        kelvane::OutputFile file(pathUtf8);
        file.Close();
    } catch (const kelvane::EInOutError& error) {
        return {error.Code(), error.what()};
    }
    return {0, "(no failure)"};
}

class WinFileOutput : public ::testing::Test {
protected:
    testsupport::TempDir dir;
};

TEST_F(WinFileOutput, WritesAFileWhoseNameNoAnsiCodePageHolds) {
    auto name = wintest::NameOutsideCodePages();
    name += ".mid";
    const auto path = dir.Path() / name;
    kelvane::OutputFile file(Utf8(path));
    const Bytes bytes{0x4D, 0x54, 0x68, 0x64, 0x00, 0x00, 0x00, 0x06};
    file.Write(bytes.data(), bytes.size());
    file.Close();
    EXPECT_EQ(testsupport::ReadAll(path), bytes);
}

// A dump loaded and saved again, both under names outside every ANSI code page: the whole road
// through both Win32 file layers.
TEST_F(WinFileOutput, ExportsALoadedDumpAsTheExactFile) {
    sysex::ResetStoreForTests();
    auto dumpName = wintest::NameOutsideCodePages();
    dumpName += ".syx";
    auto songName = wintest::NameOutsideCodePages();
    songName += ".mid";
    wintest::WriteWholeFile(dir.Path() / dumpName, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    sysex::LoadDumpFile(Utf8(dir.Path() / dumpName));
    wintest::WriteWholeFile(dir.Path() / songName, Bytes(100, 0xAA));
    smf::ExportStore(Utf8(dir.Path() / songName));
    const Bytes expected{
        0x4D, 0x54, 0x68, 0x64, 0x00, 0x00, 0x00, 0x06,  // "MThd", header length 6
        0x00, 0x00, 0x00, 0x01, 0x00, 0x30,              // format 0, one track, division 48
        0x4D, 0x54, 0x72, 0x6B, 0x00, 0x00, 0x00, 0x0C,  // "MTrk", track length 12
        0x60, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7,  // delta 96, F0, length 5, data and F7
        0x30, 0xFF, 0x2F, 0x00,                          // End of Track after 48 ticks
    };
    EXPECT_EQ(testsupport::ReadAll(dir.Path() / songName), expected);
}

// The earlier file stays whole, readable by others, until the new one is complete; then the new
// one takes its place and nothing else is left in the folder.
TEST_F(WinFileOutput, ReplacesALongerFileOnlyOnceTheNewOneIsComplete) {
    const auto path = dir.File("song.mid");
    const Bytes earlier(1000, 0xAA);
    wintest::WriteWholeFile(path, earlier);
    {
        kelvane::OutputFile file(Utf8(path));
        const Bytes first{0x4D, 0x54};
        file.Write(first.data(), first.size());
        EXPECT_EQ(testsupport::ReadAll(path), earlier);
    }  // abandoned: the earlier file stays
    EXPECT_EQ(testsupport::ReadAll(path), earlier);

    kelvane::OutputFile file(Utf8(path));
    const Bytes bytes{0x4D, 0x54, 0x72, 0x6B, 0x00};
    file.Write(bytes.data(), bytes.size());
    EXPECT_EQ(testsupport::ReadAll(path), earlier);
    file.Close();
    EXPECT_EQ(testsupport::ReadAll(path), bytes);
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::filesystem::path>{"song.mid"});
}

TEST_F(WinFileOutput, CreationFailuresCarryTheSystemsCode) {
    const auto held = dir.File("held.mid");
    wintest::WriteWholeFile(held, {0x01});
    const wintest::HeldFile holder(held, GENERIC_READ, 0);
    ASSERT_TRUE(holder.IsOpen());
    // A writer that lets others write too, as a save written in place held it before.
    const auto written = dir.File("written.mid");
    wintest::WriteWholeFile(written, {0x02});
    const wintest::HeldFile writer(written, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(writer.IsOpen());
    const std::string withNul = Utf8(dir.File("a.mid")) + std::string(1, '\0') + "b";
    struct Case {
        const char* what;
        std::string path;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {"missing folder", Utf8(dir.File("no folder") / "x.mid"), 3, "不正なファイル名です"},
        {"an existing folder", Utf8(dir.Path()), 5, "ファイルへのアクセスが拒否されました"},
        {"held elsewhere without sharing", Utf8(held), ERROR_SHARING_VIOLATION, "I/O エラー (32)"},
        {"written by another save or program", Utf8(written), ERROR_SHARING_VIOLATION, "I/O エラー (32)"},
        {"a NUL inside the name", withNul, 3, "不正なファイル名です"},
        {"invalid UTF-8", Utf8(dir.Path()) + "\\bad\xFF.mid", ERROR_NO_UNICODE_TRANSLATION, "I/O エラー (1113)"},
    };
    for (const auto& c : cases) {
        const Outcome outcome = CreateFailure(c.path);
        EXPECT_EQ(outcome.code, c.code) << c.what;
        EXPECT_EQ(outcome.text, c.text) << c.what;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("a.mid")));
}

TEST_F(WinFileOutput, ReadOnlyTargetIsDeniedAndKeptUnchanged) {
    const auto path = dir.File("locked.mid");
    wintest::WriteWholeFile(path, {0x11, 0x22});
    ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    {
        const wintest::HeldFile probe(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
        if (probe.IsOpen()) {
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            GTEST_SKIP() << "this user may write read-only files: Wine run as root maps the attribute "
                            "onto Unix permissions, which root ignores";
        }
    }
    const Outcome outcome = CreateFailure(Utf8(path));
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(outcome.code, 5);
    EXPECT_EQ(outcome.text, "ファイルへのアクセスが拒否されました");
    EXPECT_EQ(testsupport::ReadAll(path), (Bytes{0x11, 0x22}));
}

// Names beyond MAX_PATH, in a folder whose own name is near it, are saved like any other: a new
// file, the same file replaced, and a 254-character name.
TEST_F(WinFileOutput, SavesWhereTheFullNameIsLongerThanMaxPath) {
    const std::wstring folder = L"\\\\?\\" + (dir.Path() / std::wstring(240, L'a')).native();
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr)) << ::GetLastError();
    const Bytes bytes{0x4D, 0x54, 0x68, 0x64};
    const std::wstring song = L"song.mid", longest(254, L'x');
    for (const std::wstring& name : {song, song, longest}) {
        kelvane::OutputFile file(Utf8(folder.substr(4) + L"\\" + name));
        file.Write(bytes.data(), bytes.size());
        file.Close();
        EXPECT_EQ(testsupport::ReadAll(folder + L"\\" + name), bytes);
    }
}

// Another program holding the earlier file open (a virus scanner, a player) makes the replace
// fail: the earlier file stays, and the new content is kept in the temporary file the message
// names.
TEST_F(WinFileOutput, FailedReplaceKeepsBothVersionsAndNamesTheNewOne) {
    const auto path = dir.File("song.mid");
    const Bytes earlier(1000, 0xAA), fresh{0x4D, 0x54, 0x68, 0x64};
    wintest::WriteWholeFile(path, earlier);
    kelvane::OutputFile file(Utf8(path));
    file.Write(fresh.data(), fresh.size());
    const wintest::HeldFile scanner(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(scanner.IsOpen());
    const Outcome outcome = [&]() -> Outcome {
        try {
            file.Close();
        } catch (const kelvane::EInOutError& error) {
            return {error.Code(), error.what()};
        }
        return {};
    }();
    EXPECT_EQ(testsupport::ReadAll(path), earlier);
    std::vector<std::filesystem::path> kept;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) kept.push_back(entry.path());
    ASSERT_EQ(kept.size(), 2u) << outcome.text;
    const auto& temporary = kept[kept[0].filename() == "song.mid" ? 1 : 0];
    EXPECT_EQ(testsupport::ReadAll(temporary), fresh);
    EXPECT_EQ(outcome.text.rfind("ファイルを置き換えられず、新しい内容は " + Utf8(temporary), 0), 0u) << outcome.text;
}

// Wine maps its Z: drive onto the Unix root, where /dev/full refuses every write as a full
// disk would (ERROR_DISK_FULL). Real Windows has no such device, so there the case is skipped.
TEST_F(WinFileOutput, FullDiskIsNamedAsSuch) {
    if (!wintest::RunningUnderWine()) GTEST_SKIP() << "only Wine offers a device that is always full";
    const char* full = "Z:\\dev\\full";
    kelvane::OutputFile file(full);
    const Bytes bytes{0x4D, 0x54, 0x68, 0x64};
    try {
        file.Write(bytes.data(), bytes.size());
        FAIL() << "the write succeeded";
    } catch (const kelvane::EInOutError& error) {
        EXPECT_EQ(error.Code(), kelvane::DiskFullCode);
        EXPECT_EQ(std::string(error.what()), "ディスクがいっぱいです");
    }
}

}  // namespace
