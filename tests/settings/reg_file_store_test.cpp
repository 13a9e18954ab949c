// The file store on real files: the text it writes, the regedit files it reads, what it keeps,
// where it lives, and what it does with broken or unreadable files, full disks and links.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Files.h"
#include "ForkedChild.h"
#include "TempDir.h"
#include "Unprivileged.h"
#include "settings/RegFileStore.h"
#include "reg_contract.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadText;
using Bytes = std::vector<std::uint8_t>;

const std::string Header = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\ZORVIK]\n";

// A file store in a folder of its own that goes with it.
class TempFileStore : public settings::RegistryStore {
public:
    settings::RegResult CreateKey(const std::string& subKey, std::unique_ptr<settings::RegistryKey>& key) override {
        return store_.CreateKey(subKey, key);
    }

private:
    testsupport::TempDir dir_;
    settings::RegFileStore store_{dir_.File(settings::RegFileName)};
};

INSTANTIATE_TEST_SUITE_P(FileStore, RegistryStoreContract,
                         ::testing::Values(RegistryStoreFactory{
                             "RegFile", [] { return std::make_unique<TempFileStore>(); }, {}}),
                         RegistryStoreFactoryName);

class RegFile : public ::testing::Test {
protected:
    std::unique_ptr<settings::RegistryKey> Key(const fs::path& file) {
        std::unique_ptr<settings::RegistryKey> key;
        settings::RegFileStore store(file);
        EXPECT_EQ(store.CreateKey("ZORVIK", key), settings::RegSuccess);
        return key;
    }
    std::unique_ptr<settings::RegistryKey> Key() { return Key(file); }
    settings::RegResult Set(const std::string& name, settings::RegType type, const Bytes& bytes) {
        return Key()->SetValue(name, type, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }
    void WriteFile(const std::string& text) { dir.Write(settings::RegFileName, Bytes(text.begin(), text.end())); }
    // Type and bytes as a two-step read sees them.
    std::pair<settings::RegType, Bytes> Read(const std::string& name) {
        auto key = Key();
        settings::RegType type = 0;
        std::uint32_t size = 0;
        EXPECT_EQ(key->QueryValueInfo(name, type, size), settings::RegSuccess) << name;
        Bytes bytes(size);
        EXPECT_EQ(key->QueryValue(name, type, bytes.data(), size), settings::RegSuccess) << name;
        return {type, bytes};
    }

    testsupport::TempDir dir;
    fs::path file = dir.File(settings::RegFileName);
};

TEST_F(RegFile, WritesEachTypeInRegeditFormAndReadsItBackExactly) {
    Bytes counting(40);
    for (std::size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<std::uint8_t>(i);
    const struct {
        std::string name;
        settings::RegType type;
        Bytes bytes;
        std::string line;
    } cases[] = {
        {"Bin", settings::RegBinary, {0x03}, R"("Bin"=hex:03)"},
        {"Empty", settings::RegBinary, {}, R"("Empty"=hex:)"},
        {"None", settings::RegNone, {0x07}, R"("None"=hex(0):07)"},
        {"Dword", settings::RegDword, {0x0A, 0x00, 0x00, 0x80}, R"("Dword"=dword:8000000a)"},
        {"ShortDword", settings::RegDword, {0x03}, R"("ShortDword"=hex(4):03)"},
        {"Text", settings::RegSz, {'C', ':', '\\', 'D', ' ', '"', 'q', '"', ' ', 0xC3, 0xBC, 0},
         R"("Text"="C:\\D \"q\" ü")"},
        {"NoNul", settings::RegSz, {'a', 'b'}, R"("NoNul"=hex(1):61,62)"},
        {"LineBreak", settings::RegSz, {'a', '\n', 0}, R"("LineBreak"=hex(1):61,0a,00)"},
        {"NotUtf8", settings::RegSz, {0xFC, 0}, R"("NotUtf8"=hex(1):fc,00)"},
        {"Expand", settings::RegExpandSz, {'%', 0}, R"("Expand"=hex(2):25,00)"},
        {"Qword", 11, {1, 2}, R"("Qword"=hex(b):01,02)"},
        {"", settings::RegBinary, {0xFF}, R"(@=hex:ff)"},
        {"Say \"hi\"\\", settings::RegBinary, {0x01}, R"("Say \"hi\"\\"=hex:01)"},
        {"Long", settings::RegBinary, counting,
         "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
         "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27"},
    };
    std::string expected = Header;
    for (const auto& c : cases) {
        ASSERT_EQ(Set(c.name, c.type, c.bytes), settings::RegSuccess) << c.name;
        expected += c.line + "\n";
    }
    EXPECT_EQ(ReadText(file), expected);
    for (const auto& c : cases) {
        const auto [type, bytes] = Read(c.name);
        EXPECT_EQ(type, c.type) << c.name;
        EXPECT_EQ(bytes, c.bytes) << c.name;
    }
}

// A file as regedit or a person might leave it: BOM, CRLF, comments, lower-case key, wrapped hex
// with spaces, duplicates (the last one counts, as on import), another key in between.
const std::string HandWritten =
    "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; kept by hand\r\n"
    "[hkey_current_user\\zorvik]\r\n"
    "\"Wrapped\"=hex(3):01,02,\\\r\n"
    "  03 , 04\r\n"
    "\"Short\" = dword:A\r\n"
    "\"Upper\"=hex:FF,0A\r\n"
    "\"Dup\"=hex:01\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Other]\r\n"
    "\"Dup\"=hex:09\r\n"
    "[HKEY_CURRENT_USER\\ZORVIK]\r\n"
    "\"Dup\"=hex:02\r\n"
    "\"Quote\"=\"a\\\\\\\"b\"\r\n"
    "@=\"default\"\r\n";

TEST_F(RegFile, ReadsRegeditFiles) {
    WriteFile(HandWritten);
    const struct {
        std::string name;
        settings::RegType type;
        Bytes bytes;
    } cases[] = {
        {"Wrapped", settings::RegBinary, {1, 2, 3, 4}},
        {"short", settings::RegDword, {0x0A, 0, 0, 0}},
        {"Upper", settings::RegBinary, {0xFF, 0x0A}},
        {"Dup", settings::RegBinary, {0x02}},
        {"Quote", settings::RegSz, {'a', '\\', '"', 'b', 0}},
        {"", settings::RegSz, {'d', 'e', 'f', 'a', 'u', 'l', 't', 0}},
    };
    for (const auto& c : cases) {
        const auto [type, bytes] = Read(c.name);
        EXPECT_EQ(type, c.type) << c.name;
        EXPECT_EQ(bytes, c.bytes) << c.name;
    }
}

TEST_F(RegFile, SavingKeepsEverythingItDoesNotChange) {
    WriteFile(HandWritten);
    ASSERT_EQ(Set("DUP", settings::RegBinary, {0x03}), settings::RegSuccess);
    ASSERT_EQ(Set("New", settings::RegBinary, {0x07}), settings::RegSuccess);
    ASSERT_EQ(Key(file)->SetValue("Value", settings::RegBinary, nullptr, 0), settings::RegSuccess);
    std::unique_ptr<settings::RegistryKey> third;
    ASSERT_EQ(settings::RegFileStore(file).CreateKey("Third\\Sub", third), settings::RegSuccess);
    ASSERT_EQ(third->SetValue("V", settings::RegBinary, nullptr, 0), settings::RegSuccess);
    EXPECT_EQ(ReadText(file),
              "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
              "\r\n"
              "; kept by hand\r\n"
              "[hkey_current_user\\zorvik]\r\n"
              "\"Wrapped\"=hex(3):01,02,\\\r\n"
              "  03 , 04\r\n"
              "\"Short\" = dword:A\r\n"
              "\"Upper\"=hex:FF,0A\r\n"
              "\"DUP\"=hex:03\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\Other]\r\n"
              "\"Dup\"=hex:09\r\n"
              "[HKEY_CURRENT_USER\\ZORVIK]\r\n"
              "\"Quote\"=\"a\\\\\\\"b\"\r\n"
              "@=\"default\"\r\n"
              "\"New\"=hex:07\r\n"
              "\"Value\"=hex:\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\Third\\Sub]\r\n"
              "\"V\"=hex:\r\n");
}

TEST_F(RegFile, UnparseableFileCountsAsNoKeyAndIsKeptAsBadOnTheNextSave) {
    const std::string section = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\ZORVIK]\n";
    const struct {
        const char* what;
        std::string text;
        bool keepsCopy;
    } cases[] = {
        {"empty file", "", false},
        {"no header", "just some text\n", true},
        {"UTF-16 without a header", std::string("\xFF\xFEW\0i\0n\0", 8), true},
        {"UTF-16 cut short", std::string("\xFF\xFEW\0i", 5), true},
        {"UTF-16 unpaired surrogate", std::string("\xFF\xFE\x00\xD8W\0", 6), true},
        {"value before any key", "Windows Registry Editor Version 5.00\n\"KELV_In\"=hex:01\n", true},
        {"key deletion", "Windows Registry Editor Version 5.00\n[-HKEY_CURRENT_USER\\ZORVIK]\n", true},
        {"stray line", section + "KELV_In=01\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir own;
        const auto path = own.File(settings::RegFileName);
        own.Write(settings::RegFileName, Bytes(c.text.begin(), c.text.end()));
        settings::RegType type = 0;
        std::uint32_t size = 0;
        EXPECT_EQ(Key(path)->QueryValueInfo("KELV_In", type, size), settings::RegFileNotFound);
        const std::uint8_t byte = 5;
        ASSERT_EQ(Key(path)->SetValue("KELV_In", settings::RegBinary, &byte, 1), settings::RegSuccess);
        EXPECT_EQ(ReadText(path), Header + "\"KELV_In\"=hex:05\n");
        const auto bad = own.File("ZORVIK.reg.bad");
        EXPECT_EQ(fs::exists(bad), c.keepsCopy);
        if (c.keepsCopy) {
            EXPECT_EQ(ReadText(bad), c.text);
        }
    }
}

// A value line that cannot be read costs only that value: the others are read, and the next save
// of the value replaces the line without keeping a ".bad" copy.
TEST_F(RegFile, UnreadableValueLineMakesOnlyThatValueAbsent) {
    const std::string kept = "\"KELV_Out\"=hex:03\n";
    const struct {
        const char* what;
        std::string line;
    } cases[] = {
        {"value deletion", "\"KELV_In\"=-\n"},
        {"bad hex digit", "\"KELV_In\"=hex:1g\n"},
        {"continuation at the end", "\"KELV_In\"=hex:01,\\\n"},
        {"nine dword digits", "\"KELV_In\"=dword:000000001\n"},
        {"unterminated text", "\"KELV_In\"=\"open\n"},
        {"unknown escape", "\"KELV_In\"=\"a\\n\"\n"},
        {"hides an earlier good line", "\"KELV_In\"=hex:01\n\"kelv_in\"=hex:zz\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir own;
        const auto path = own.File(settings::RegFileName);
        // The line last, so that a continuation at the end really is at the file's end.
        const std::string text = Header + kept + c.line;
        own.Write(settings::RegFileName, Bytes(text.begin(), text.end()));
        settings::RegType type = 0;
        std::uint32_t size = 0;
        EXPECT_EQ(Key(path)->QueryValueInfo("KELV_In", type, size), settings::RegFileNotFound);
        ASSERT_EQ(Key(path)->QueryValueInfo("KELV_Out", type, size), settings::RegSuccess);
        EXPECT_EQ(size, 1u);
        const std::uint8_t byte = 5;
        ASSERT_EQ(Key(path)->SetValue("KELV_In", settings::RegBinary, &byte, 1), settings::RegSuccess);
        EXPECT_EQ(ReadText(path), Header + kept + "\"KELV_In\"=hex:05\n");
        EXPECT_FALSE(fs::exists(own.File("ZORVIK.reg.bad")));
    }
}

// A value cut short by the end of the file ends in "\\": what a save adds after it must not
// become part of it, however many lines the "\\"s still join.
TEST_F(RegFile, ValueCutShortAtTheEndSwallowsNothingSavedAfterIt) {
    for (const std::string tail : {"\"Other\"=hex:01,\\\n", "\"Other\"=hex:01,\\\\\\\n  \n"}) {
        SCOPED_TRACE(tail);
        WriteFile(Header + tail);
        ASSERT_EQ(Set("KELV_In", settings::RegBinary, {0x05}), settings::RegSuccess);
        ASSERT_EQ(Key()->SetValue("Fresh", settings::RegBinary, nullptr, 0), settings::RegSuccess);
        EXPECT_EQ(Read("KELV_In"), std::make_pair(settings::RegBinary, Bytes{0x05}));
        EXPECT_EQ(Read("Fresh"), std::make_pair(settings::RegBinary, Bytes{}));
        settings::RegType type = 0;
        std::uint32_t size = 0;
        EXPECT_EQ(Key()->QueryValueInfo("Other", type, size), settings::RegFileNotFound);
    }
}

// regedit writes UTF-16LE with a byte-order mark and CRLF lines; a save keeps all three.
TEST_F(RegFile, RegeditsUtf16FileIsReadAndWrittenBackInItsEncoding) {
    const auto utf16 = [](std::u16string_view text) {
        Bytes bytes{0xFF, 0xFE};
        for (const char16_t unit : text) {
            bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
        }
        return bytes;
    };
    const std::u16string head =
        u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\ZORVIK]\r\n\"KELV_In\"=hex:00\r\n";
    const std::u16string tail = u"\"Name\"=\"\u65E5\u672C \U0001F3B9\"\r\n\r\n";
    dir.Write(settings::RegFileName, utf16(head + u"\"KELV_Out\"=hex:02\r\n" + tail));

    EXPECT_EQ(Read("KELV_Out"), std::make_pair(settings::RegBinary, Bytes{0x02}));
    EXPECT_EQ(Read("Name"), std::make_pair(settings::RegSz, Bytes{0xE6, 0x97, 0xA5, 0xE6, 0x9C, 0xAC, ' ', 0xF0, 0x9F,
                                                                  0x8E, 0xB9, 0}));
    ASSERT_EQ(Set("KELV_Out", settings::RegBinary, {0x05}), settings::RegSuccess);
    EXPECT_EQ(testsupport::ReadAll(file), utf16(head + u"\"KELV_Out\"=hex:05\r\n" + tail));
    EXPECT_FALSE(fs::exists(dir.File("ZORVIK.reg.bad")));
}

// Saving over a file it could not read would lose whatever the file held.
TEST_F(RegFile, UnreadableFileReadsAsNothingAndIsNotOverwritten) {
    const std::string stored = Header + "\"KELV_In\"=hex:07\n";
    WriteFile(stored);
    fs::permissions(dir.Path(), fs::perms::all);  // let "nobody" in
    fs::permissions(file, fs::perms::none);
    // The child's exit status has one bit per wrong answer.
    const auto status = testsupport::RunUnprivileged([&] {
        const std::uint8_t byte = 1;
        settings::RegType type = 0;
        std::uint32_t size = 0;
        auto key = Key();
        return int(key->QueryValueInfo("KELV_In", type, size) != settings::RegFileNotFound) |
               int(key->SetValue("KELV_In", settings::RegBinary, &byte, 1) != settings::RegAccessDenied) << 1;
    });
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(ReadText(file), stored);
}

TEST_F(RegFile, FullDiskLeavesTheOldFileWholeAndReportsTheFailure) {
    const std::string stored = Header + "\"KELV_In\"=hex:07\n\"KELV_Out\"=hex:03\n";
    WriteFile(stored);
    // In a child, so that the limit stays out of the test process.
    const auto status = testsupport::RunInChild([&] {
        // A file size limit fails the write the way a full disk does (EFBIG instead of ENOSPC).
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1024, 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const Bytes big(4096, 0xAB);
        return Key()->SetValue("Big", settings::RegBinary, big.data(), 4096) == settings::RegDiskFull ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadText(file), stored);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.Path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"ZORVIK.reg", "ZORVIK.reg.lock"}));
}

// A link whose target does not exist yet is saved through just like one whose target does.
TEST_F(RegFile, LinkedFileIsUpdatedWhereItLivesAndStaysALink) {
    fs::create_directory(dir.Path() / "dotfiles");
    const auto real = dir.Path() / "dotfiles" / "zorvik.reg";
    const struct {
        const char* name;
        bool targetExists;
        fs::path link;
        std::string before;
    } cases[] = {
        {"existing target", true, real, "\"KELV_In\"=hex:07\n"},
        {"dangling, absolute", false, real, ""},
        {"dangling, relative", false, fs::path("dotfiles") / "zorvik.reg", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(real);
        fs::remove(file);
        if (c.targetExists) std::ofstream(real, std::ios::binary) << Header << c.before;
        fs::create_symlink(c.link, file);
        ASSERT_EQ(Set("KELV_Out", settings::RegBinary, {0x02}), settings::RegSuccess);
        EXPECT_TRUE(fs::is_symlink(file));
        EXPECT_EQ(ReadText(real), Header + c.before + "\"KELV_Out\"=hex:02\n");
    }
}

// Every start saves the same bytes again; only a real change replaces the file (a new inode).
TEST_F(RegFile, SavingWhatTheFileAlreadyHoldsWritesNothing) {
    auto inode = [&] {
        struct stat status {};
        EXPECT_EQ(::stat(file.c_str(), &status), 0);
        return status.st_ino;
    };
    ASSERT_EQ(Set("KELV_Out", settings::RegBinary, {0x02}), settings::RegSuccess);
    const auto first = inode();
    ASSERT_EQ(Set("KELV_Out", settings::RegBinary, {0x02}), settings::RegSuccess);
    EXPECT_EQ(inode(), first);
    ASSERT_EQ(Set("KELV_Out", settings::RegBinary, {0x03}), settings::RegSuccess);
    EXPECT_NE(inode(), first);
    EXPECT_EQ(ReadText(file), Header + "\"KELV_Out\"=hex:03\n");
}

// Opening a FIFO for reading would wait for a writer forever, and a file far larger than ours
// would be read whole at every start: both count as unreadable, and neither is saved over.
TEST_F(RegFile, FileThatIsNoSettingsFileReadsAsNothingAndIsNotReplaced) {
    const std::string stored = Header + "\"KELV_In\"=hex:07\n";
    for (const char* row : {"FIFO", "larger than 1 MiB"}) {
        SCOPED_TRACE(row);
        fs::remove(file);
        const bool fifo = std::string(row) == "FIFO";
        if (fifo) {
            ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
        } else {
            WriteFile(stored);
            fs::resize_file(file, (1 << 20) + 1);  // sparse: costs no disk
        }
        auto key = Key();
        settings::RegType type = 0;
        std::uint32_t size = 0;
        EXPECT_EQ(key->QueryValueInfo("KELV_In", type, size), settings::RegFileNotFound);
        const std::uint8_t byte = 1;
        EXPECT_EQ(key->SetValue("KELV_In", settings::RegBinary, &byte, 1), settings::RegWriteFault);
        if (fifo) {
            EXPECT_TRUE(fs::is_fifo(file));
        } else {
            EXPECT_EQ(fs::file_size(file), (1u << 20) + 1);
            EXPECT_EQ(ReadText(file).substr(0, stored.size()), stored);
        }
    }
}

// Killed saves leave their temporary files; the next save removes those no living save holds
// (a held one is locked), and nothing else that merely looks alike.
TEST_F(RegFile, SavingRemovesTheTemporaryFilesOfDeadSavesOnly) {
    const std::vector<std::string> dead{".kv-AbC123", ".kv-000000", ".kv-Q1w2E3"};
    const std::vector<std::string> kept{"ZORVIK.reg.backup", ".kv-held01", ".kv-1234567", ".kv-AbC12",
                                        ".kv-AbC12.bak", ".kv-AbC_12"};
    for (const auto& name : dead) dir.Write(name, {});
    for (const auto& name : kept) dir.Write(name, {0x41});
    const int living = ::open(dir.File(".kv-held01").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(living, 0);
    ASSERT_EQ(::flock(living, LOCK_EX), 0);

    ASSERT_EQ(Set("KELV_Out", settings::RegBinary, {0x02}), settings::RegSuccess);
    ::close(living);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.Path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected = kept;
    expected.insert(expected.end(), {"ZORVIK.reg", "ZORVIK.reg.lock"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
}

TEST(RegFileLocation, ConfigFolderFromXdgElseHome) {
    ASSERT_EQ(::setenv("HOME", "/home/someone", 1), 0);
    const struct {
        const char* xdg;  // nullptr: unset
        const char* expected;
    } cases[] = {
        {"/xdg/config", "/xdg/config/ZORVIK.reg"},
        {nullptr, "/home/someone/.config/ZORVIK.reg"},
        {"", "/home/someone/.config/ZORVIK.reg"},
        {"relative/config", "/home/someone/.config/ZORVIK.reg"},  // ignored, as XDG asks
    };
    for (const auto& c : cases) {
        c.xdg ? ::setenv("XDG_CONFIG_HOME", c.xdg, 1) : ::unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(settings::DefaultRegFilePath(), fs::path(c.expected)) << (c.xdg ? c.xdg : "(unset)");
    }
}

}  // namespace
