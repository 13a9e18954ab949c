// The file output against the failures a POSIX system produces: permissions, a full device, a
// file-size limit, and writes cut short by signals.

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "Files.h"
#include "ForkedChild.h"
#include "SmfTestMessages.h"
#include "TempDir.h"
#include "Unprivileged.h"
#include "common/Failure.h"
#include "common/InOutError.h"
#include "smf/SmfWriter.h"
#include "sysex/Store.h"

// The failures a disk, a quota or the kernel produce at the worst moment, on demand: this test
// program's own open, write, fsync and rename fail with a chosen errno (or kill the process) for
// files under one folder while a FailingCalls lives, and pass every other call on.
namespace {

enum class Call { None, CreateTemporary, Write, SyncFile, SyncFolder, Rename };
struct CallFailure {
    Call call = Call::None;
    int error = 0;
    int passed = 0;           // calls of this kind that succeed first
    bool noNewFiles = false;  // and every temporary file is refused (EACCES)
    bool kill = false;        // the failing call kills the process instead
};
CallFailure failing;
std::string& failingUnder = *new std::string;  // empty: disarmed; outlives exit-time writes
int failingSeen = 0;

struct FailingCalls {
    FailingCalls(const CallFailure& failure, const std::filesystem::path& folder) {
        failing = failure;
        failingSeen = 0;
        failingUnder = std::filesystem::canonical(folder).string() + "/";
    }
    ~FailingCalls() { failingUnder.clear(); }
};

bool Trips(Call call, const std::string& path) {
    if (failingUnder.empty() || path.rfind(failingUnder, 0) != 0) return false;
    if (failing.noNewFiles && call == Call::CreateTemporary) return errno = EACCES, true;
    if (failing.call != call || failingSeen++ < failing.passed) return false;
    if (failing.kill) ::raise(SIGKILL);
    errno = failing.error;
    return true;
}

// With a "/" at the end, so that a folder counts as under itself.
std::string PathOf(int fd) {
    char path[4096];
    const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) + "/" : std::string();
}

template <typename Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    const int mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(rest, int) : 0;
    va_end(rest);
    const char* slash = std::strrchr(path, '/');
    const bool temporary = (flags & O_CREAT) && std::strncmp(slash ? slash + 1 : path, ".kv-", 4) == 0;
    if (temporary && Trips(Call::CreateTemporary, path)) return -1;
    return Next<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

extern "C" ssize_t write(int fd, const void* data, size_t size) {
    if (!failingUnder.empty() && Trips(Call::Write, PathOf(fd))) return -1;
    return Next<ssize_t (*)(int, const void*, size_t)>("write")(fd, data, size);
}

extern "C" int fsync(int fd) {
    struct stat status {};
    if (!failingUnder.empty() && ::fstat(fd, &status) == 0 &&
        Trips(S_ISDIR(status.st_mode) ? Call::SyncFolder : Call::SyncFile, PathOf(fd))) {
        return -1;
    }
    return Next<int (*)(int)>("fsync")(fd);
}

extern "C" int rename(const char* from, const char* to) {
    if (Trips(Call::Rename, to)) return -1;
    return Next<int (*)(const char*, const char*)>("rename")(from, to);
}

namespace smf::test {
namespace {

namespace fs = std::filesystem;
using kelvane::AccessDeniedCode;
using kelvane::EInOutError;
using kelvane::OutputFile;
using kelvane::SpecialTargets;
using testsupport::ReadAll;

// Exit statuses of a check run in a child process.
enum Outcome { Refused = 0, Saved = 1, OtherCode = 2, OtherText = 3 };

int ExportOutcome(const std::string& path, int expectedCode, const std::string& expectedText) {
    try {
        ExportStore(path);
        return Saved;
    } catch (const EInOutError& error) {
        if (error.Code() != expectedCode) return OtherCode;
        return error.what() == expectedText ? Refused : OtherText;
    }
}

class FileOutputPosixTest : public ::testing::Test {
protected:
    void TearDown() override { sysex::ResetStoreForTests(); }
    std::string Name(const std::string& file) const { return dir_.File(file).string(); }
    testsupport::TempDir dir_;
};

TEST_F(FileOutputPosixTest, ReadOnlyTargetOrFolderIsRefusedAndLeftAsItWas) {
    const std::string denied = "ファイルへのアクセスが拒否されました";
    fs::permissions(dir_.Path(), fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    const std::string target = dir_.Write("read-only.mid", {0x01, 0x02, 0x03});
    fs::permissions(target, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::create_directory(dir_.Path() / "read-only");
    fs::permissions(dir_.Path() / "read-only", fs::perms::owner_read | fs::perms::owner_exec |
                                                   fs::perms::others_read | fs::perms::others_exec);
    // The same user may write where writing is allowed, so a refusal is down to the permissions.
    fs::create_directory(dir_.Path() / "open");
    fs::permissions(dir_.Path() / "open", fs::perms::all);
    FillStore({{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}});

    const auto control = testsupport::RunUnprivileged([&] { return ExportOutcome(Name("open/x.mid"), 0, ""); });
    if (control == 125) GTEST_SKIP() << "cannot switch to user 65534 to test permissions as root";
    ASSERT_EQ(control, Saved) << "user 65534 cannot write into " << Name("open");
    EXPECT_EQ(testsupport::RunUnprivileged([&] { return ExportOutcome(target, 5, denied); }), Refused);
    EXPECT_EQ(testsupport::RunUnprivileged([&] { return ExportOutcome(Name("read-only/x.mid"), 5, denied); }),
              Refused);

    EXPECT_EQ(ReadAll(target), (Bytes{0x01, 0x02, 0x03}));
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_TRUE(fs::is_empty(dir_.Path() / "read-only"));
}

TEST_F(FileOutputPosixTest, FullDeviceIsNamedAsSuch) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "this system has no /dev/full";
    FillStore({StoredMessage(6, 0)});
    try {
        ExportStore("/dev/full");
        FAIL() << "no failure";
    } catch (const EInOutError& error) {
        EXPECT_EQ(error.Code(), kelvane::DiskFullCode);
        EXPECT_EQ(kelvane::FailureDisplayText(error.what()), "ディスクがいっぱいです.");
    }
}

// Every name in the folder, sorted: after a save only the target may have changed.
std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A file-size limit cuts the first large write short and refuses the next one: the failure shows
// the system's number (EFBIG), the earlier file is exactly as it was and the temporary file is
// gone; a new name is not created at all.
TEST_F(FileOutputPosixTest, FailedWriteKeepsTheEarlierFileAndLeavesNothingBehind) {
    const std::vector<Bytes> messages = {StoredMessage(4000, 1), StoredMessage(4000, 2), StoredMessage(4000, 3)};
    FillStore(messages);
    const Bytes earlier(7000, 0xEE);
    const std::string path = dir_.Write("limited.mid", earlier);
    for (const std::string& target : {path, Name("new.mid")}) {
        const std::optional<int> status = testsupport::RunInChild([&] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{5000, 5000};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 124;
            return ExportOutcome(target, 27, "I/O エラー (27)");
        });
        ASSERT_TRUE(status.has_value()) << "the export did not end normally";
        ASSERT_NE(*status, 124) << "cannot limit the file size";
        EXPECT_EQ(*status, Refused) << target;
    }
    EXPECT_EQ(ReadAll(path), earlier);
    EXPECT_EQ(Names(dir_.Path()), std::vector<std::string>{"limited.mid"});
}

// A folder; with options, a small tmpfs of its own mounted there while it lives (root only).
struct SmallDisk {
    SmallDisk(const fs::path& folder, const char* options) : at(folder) {
        fs::create_directory(at);
        mounted = options && ::mount("tmpfs", at.c_str(), "tmpfs", 0, options) == 0;
        if (options && !mounted) error = std::string("cannot mount a tmpfs (root only): ") + std::strerror(errno);
    }
    ~SmallDisk() {
        if (mounted) ::umount2(at.c_str(), MNT_DETACH);
    }
    fs::path at;
    bool mounted = false;
    std::string error;  // why it is not mounted
};

// A disk that fills up during the save: the earlier file survives byte for byte.
TEST_F(FileOutputPosixTest, FullDiskKeepsTheEarlierFileWhole) {
    const fs::path disk = dir_.Path() / "disk";
    const SmallDisk mounted(disk, "size=64k");
    if (!mounted.error.empty()) GTEST_SKIP() << mounted.error;
    const std::string song = (disk / "song.mid").string();
    const std::vector<Bytes> good = {StoredMessage(30000, 1)};
    FillStore(good);
    ExportStore(song);
    FillStore({StoredMessage(30000, 2), StoredMessage(30000, 3), StoredMessage(30000, 4)});
    try {
        ExportStore(song);
        FAIL() << "a 90 KB file fitted on a 64 KiB disk";
    } catch (const EInOutError& error) {
        EXPECT_EQ(kelvane::FailureDisplayText(error.what()), "ディスクがいっぱいです.");
    }
    EXPECT_EQ(ReadAll(song), ExpectedFile(good));
    EXPECT_EQ(Names(disk), std::vector<std::string>{"song.mid"});
}

// The user's state folder, where a file written in place keeps its earlier content meanwhile.
struct StateFolder {
    StateFolder() { ::setenv("XDG_STATE_HOME", dir.Path().c_str(), 1); }
    ~StateFolder() { ::unsetenv("XDG_STATE_HOME"); }
    fs::path Kept() const { return dir.Path() / "kelvane"; }
    testsupport::TempDir dir;
};

// Every way a save can fail, each injected where it hurts most; the earlier file must come out
// byte for byte as it was, with nothing left beside it. Writing in place happens only where the
// folder refuses new files; it keeps the earlier content in the state folder until the new one is
// complete, refuses when it cannot (no copy, no room, another save of the file going on), and a
// failure partway names the copy. A failed flush of the folder after the rename says the new file
// may not be on disk.
TEST_F(FileOutputPosixTest, EveryFailureKeepsTheEarlierFileByteForByte) {
    enum Left { Earlier, New, Changed };
    enum Also { Nothing, NoStateFolder, HeldByAnotherSave };
    const std::string song = "song.mid", longName = std::string(236, 'n') + ".mid";  // 240 bytes
    const std::string longestName = std::string(250, 'x') + ".mid";                  // 254, new
    const std::string full = "ディスクがいっぱいです.";
    const struct {
        const char* row;
        std::string name;
        CallFailure failure;
        std::string text;  // as displayed, "{copy}" for the kept copy's path; "" for a success
        Left left;
        const char* disk = nullptr;  // options of a tmpfs of its own
        Also also = Nothing;
    } rows[] = {
        {"no space", song, {Call::Write, ENOSPC, 1}, full, Earlier},
        {"I/O error flushing", song, {Call::SyncFile, EIO}, "I/O エラー (5)", Earlier},
        {"no inodes", song, {}, full, Earlier, "size=1m,nr_inodes=8"},
        {"I/O error renaming", song, {Call::Rename, EIO}, "I/O エラー (5)", Earlier},
        {"240-byte name, no space", longName, {Call::Write, ENOSPC, 1}, full, Earlier},
        {"240-byte name", longName, {}, "", New},
        {"254-byte new name", longestName, {}, "", New},
        {"folder not flushed", song, {Call::SyncFolder, EIO},
         "ファイルは保存しましたが、ディスクへの書き込みを確認できませんでした (I/O エラー (5))", New},
        {"folder refuses new files", song, {.noNewFiles = true}, "", New},
        {"in place, I/O error writing", song, {Call::Write, EIO, 1, true},
         "ファイルは途中までしか書き込まれていない可能性があります。元の内容は {copy} に残してあります (I/O エラー (5))",
         Changed},
        {"in place, full disk", song, {.noNewFiles = true}, full, Earlier, "size=64k"},
        {"in place, no state folder", song, {.noNewFiles = true},
         "フォルダーに新しいファイルを作れず、元のファイルの控えも残せないため、上書きしませんでした (不正なファイル名です)",
         Earlier, nullptr, NoStateFolder},
        {"in place, another save at it", song, {.noNewFiles = true},
         "同じファイルを別の保存が書き込み中のため、上書きしませんでした.", Earlier, nullptr, HeldByAnotherSave},
    };
    const Bytes earlier(30000, 0xEE);
    Bytes fresh(90000);
    for (std::size_t i = 0; i < fresh.size(); ++i) fresh[i] = static_cast<std::uint8_t>(i * 7);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        const testsupport::TempDir dir;
        const StateFolder state;
        const fs::path folder = dir.Path() / "disk", target = folder / r.name;
        const bool noInodes = std::string(r.row) == "no inodes", existed = r.name != longestName;
        const SmallDisk disk(folder, r.disk);
        if (!disk.error.empty()) {
            ADD_FAILURE() << disk.error;  // the tests run as root, where a tmpfs mounts
            continue;
        }
        if (existed) dir.Write("disk/" + r.name, earlier);
        for (int k = 0, filler = 0; noInodes && filler >= 0; ++k) {
            filler = ::open((folder / std::to_string(k)).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
            if (filler >= 0) ::close(filler);
        }
        // A file where the state folder would be: the copy cannot be kept.
        if (r.also == NoStateFolder) ::setenv("XDG_STATE_HOME", dir.Write("no-folder", {}).c_str(), 1);
        const int holder = r.also == HeldByAnotherSave ? ::open(target.c_str(), O_RDONLY | O_CLOEXEC) : -1;
        if (holder >= 0) ::flock(holder, LOCK_EX);
        const auto before = Names(folder);
        std::string text;
        try {
            const FailingCalls injected(r.failure, folder);
            OutputFile file(target.string());
            file.Write(fresh.data(), fresh.size() / 2);
            file.Write(fresh.data() + fresh.size() / 2, fresh.size() - fresh.size() / 2);
            file.Close();
        } catch (const EInOutError& error) {
            text = kelvane::FailureDisplayText(error.what());
        }
        if (holder >= 0) ::close(holder);
        // What the state folder holds afterwards: a copy of the earlier file only where the new
        // one is incomplete.
        const std::vector<std::string> kept = fs::is_directory(state.Kept()) ? Names(state.Kept()) : std::vector<std::string>{};
        std::string expectedText = r.text;
        if (const std::size_t at = expectedText.find("{copy}"); at != std::string::npos) {
            ASSERT_EQ(kept.size(), 1u);
            expectedText.replace(at, 6, (state.Kept() / kept[0]).string());
            EXPECT_EQ(ReadAll(state.Kept() / kept[0]), earlier);
        } else {
            EXPECT_EQ(kept, std::vector<std::string>{});
        }
        EXPECT_EQ(text, expectedText);
        const Bytes now = fs::exists(target) ? ReadAll(target) : Bytes{};
        EXPECT_EQ(now == (r.left == New ? fresh : existed ? earlier : Bytes{}), r.left != Changed) << now.size();
        std::vector<std::string> expected = before;
        if (!existed && r.left == New) expected.push_back(r.name);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Names(folder), expected);
    }
}

// Saves written in place at once, each in a process of its own: they take turns, so the file
// ends as one of them wrote it, never as a mix, and each says it saved.
TEST_F(FileOutputPosixTest, SavesInPlaceAtOnceTakeTurns) {
    const StateFolder state;
    const std::string path = dir_.Write("song.mid", Bytes(1000, 0xEE));
    std::vector<Bytes> contents;
    for (int k = 0; k < 4; ++k) contents.push_back(Bytes(8u << 20, static_cast<std::uint8_t>(k + 1)));
    // Every save has its content ready and closes only when the start pipe closes: all at once.
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<std::unique_ptr<testsupport::ForkedChild>> saves;
    for (const Bytes& content : contents) {
        saves.push_back(std::make_unique<testsupport::ForkedChild>([&] {
            ::close(start[1]);
            const FailingCalls injected({.noNewFiles = true}, dir_.Path());
            try {
                OutputFile file(path);
                file.Write(content.data(), content.size());
                char go;
                while (::read(start[0], &go, 1) < 0 && errno == EINTR) {
                }
                file.Close();
                return 0;
            } catch (const EInOutError&) {
                return 1;
            }
        }));
    }
    ::close(start[0]);
    ::close(start[1]);
    for (auto& save : saves) EXPECT_EQ(save->Wait(), std::optional<int>(0));
    const Bytes now = ReadAll(path);
    EXPECT_TRUE(std::find(contents.begin(), contents.end(), now) != contents.end()) << now.size();
    EXPECT_EQ(Names(dir_.Path()), std::vector<std::string>{"song.mid"});
    EXPECT_EQ(Names(state.Kept()), std::vector<std::string>{});
}

// A save written in place and killed partway: the earlier content waits whole in the state folder.
TEST_F(FileOutputPosixTest, KilledSaveInPlaceLeavesTheEarlierCopyWhole) {
    const StateFolder state;
    const Bytes earlier(200000, 0xEE);
    const std::string path = dir_.Write("song.mid", earlier);
    testsupport::ForkedChild child([&] {
        // Killed at its second write into the file, with the first 64 KiB over the earlier content.
        const FailingCalls injected({.call = Call::Write, .passed = 1, .noNewFiles = true, .kill = true}, dir_.Path());
        const Bytes fresh(400000, 0x11);
        OutputFile file(path);
        file.Write(fresh.data(), fresh.size());
        try {
            file.Close();
        } catch (...) {
        }
        return 0;
    });
    ASSERT_FALSE(child.Wait().has_value()) << "the save was not killed";
    EXPECT_NE(ReadAll(path), earlier);
    const std::vector<std::string> kept = Names(state.Kept());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(ReadAll(state.Kept() / kept[0]), earlier);
}

// A save killed with SIGKILL halfway through a full store's 65 MB leaves the earlier file alone;
// the temporary file it could not remove goes with the next save of the same file.
TEST_F(FileOutputPosixTest, KilledSaveKeepsTheEarlierFileAndTheNextSaveClearsItsLeftover) {
    const Bytes earlier(1000, 0xEE);
    const std::string path = dir_.Write("song.mid", earlier);
    std::vector<Bytes> messages;
    for (unsigned k = 0; k < sysex::MaxSysEx; ++k) messages.push_back(StoredMessage(65535, k));
    FillStore(messages);
    testsupport::ForkedChild child([&] {
        // Crossing 32 MB raises SIGXFSZ, which turns into the SIGKILL no program can clean up after.
        ::signal(SIGXFSZ, [](int) { ::raise(SIGKILL); });
        const rlimit limit{32u << 20, 32u << 20};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            ExportStore(path);
        } catch (...) {
        }
        return 0;
    });
    ASSERT_FALSE(child.Wait().has_value()) << "the save was not killed";
    EXPECT_EQ(ReadAll(path), earlier);
    EXPECT_EQ(Names(dir_.Path()).size(), 2u);  // the file and the killed save's temporary file

    const std::vector<Bytes> next = {StoredMessage(6, 0)};
    FillStore(next);
    ExportStore(path);
    EXPECT_EQ(ReadAll(path), ExpectedFile(next));
    EXPECT_EQ(Names(dir_.Path()), std::vector<std::string>{"song.mid"});
}

// Two saves of one file at once: neither takes the other's temporary file for abandoned, and the
// last to finish wins.
TEST_F(FileOutputPosixTest, SavesRunningAtOnceKeepTheirOwnTemporaryFiles) {
    const std::string path = Name("song.mid");
    const Bytes first{0x01, 0x02}, second{0x03};
    {
        OutputFile earlier(path);
        OutputFile later(path);
        later.Write(second.data(), second.size());
        later.Close();
        EXPECT_EQ(ReadAll(path), second);
        earlier.Write(first.data(), first.size());
        earlier.Close();
    }
    EXPECT_EQ(ReadAll(path), first);
    EXPECT_EQ(Names(dir_.Path()), std::vector<std::string>{"song.mid"});
}

// What stays of the target: its permission bits, and a symbolic link (even one whose file does
// not exist yet) stays a link while the file it names receives the bytes.
TEST_F(FileOutputPosixTest, ReplacedFileKeepsItsModeAndLinksStayLinks) {
    const Bytes gm{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    FillStore({gm});
    const Bytes expected = ExpectedFile({gm});
    const std::string kept = dir_.Write("kept.mid", {0x01});
    fs::permissions(kept, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_directory(dir_.Path() / "real");
    dir_.Write("real/target.mid", {0x02});
    fs::create_symlink("real/target.mid", dir_.Path() / "link.mid");
    fs::create_symlink("real/later.mid", dir_.Path() / "dangling.mid");

    for (const char* name : {"kept.mid", "link.mid", "dangling.mid"}) {
        EXPECT_NO_THROW(ExportStore(Name(name))) << name;
    }
    EXPECT_EQ(ReadAll(kept), expected);
    EXPECT_EQ(fs::status(kept).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    for (const char* link : {"link.mid", "dangling.mid"}) EXPECT_TRUE(fs::is_symlink(dir_.Path() / link)) << link;
    EXPECT_EQ(ReadAll(dir_.Path() / "real" / "target.mid"), expected);
    EXPECT_EQ(ReadAll(dir_.Path() / "real" / "later.mid"), expected);
    EXPECT_EQ(Names(dir_.Path()), (std::vector<std::string>{"dangling.mid", "kept.mid", "link.mid", "real"}));
    EXPECT_EQ(Names(dir_.Path() / "real"), (std::vector<std::string>{"later.mid", "target.mid"}));
}

// A folder that takes no temporary file: a writable file in it is still saved, in place.
TEST_F(FileOutputPosixTest, WritableFileInAReadOnlyFolderIsWrittenInPlace) {
    const fs::path folder = dir_.Path() / "shut";
    fs::create_directory(folder);
    const std::string path = dir_.Write("shut/song.mid", Bytes(500, 0xEE));
    fs::permissions(path, fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec));
    fs::permissions(dir_.Path(), fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    fs::permissions(folder, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    // The saving user's state folder, which it creates itself, for the earlier content meanwhile.
    const fs::path state = dir_.Path() / "state";
    fs::create_directory(state);
    fs::permissions(state, fs::perms::all);
    const Bytes gm{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    FillStore({gm});
    const auto status = testsupport::RunUnprivileged([&] {
        ::setenv("XDG_STATE_HOME", state.c_str(), 1);
        return ExportOutcome(path, 0, "");
    });
    if (status == 125) GTEST_SKIP() << "cannot switch to user 65534 to test permissions as root";
    EXPECT_EQ(status, Saved);
    EXPECT_EQ(ReadAll(path), ExpectedFile({gm}));
    EXPECT_EQ(Names(folder), std::vector<std::string>{"song.mid"});
    EXPECT_EQ(Names(state / "kelvane"), std::vector<std::string>{});
}

// A FIFO or a device is opened for writing only: no reader means an immediate failure (ENXIO),
// never a wait; the window refuses them all as access denied.
TEST_F(FileOutputPosixTest, TargetsThatAreNotFilesAreWrittenDirectlyOrRefused) {
    const std::string fifo = Name("fifo.mid");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    FillStore({StoredMessage(6, 0)});
    const struct {
        const char* target;
        SpecialTargets special;
        int code;  // 0: saved
    } cases[] = {
        {"/dev/null", SpecialTargets::WriteThrough, 0},
        {"/dev/null", SpecialTargets::Refuse, AccessDeniedCode},
        {fifo.c_str(), SpecialTargets::WriteThrough, ENXIO},
        {fifo.c_str(), SpecialTargets::Refuse, AccessDeniedCode},
    };
    for (const auto& c : cases) {
        const bool refusing = c.special == SpecialTargets::Refuse;
        try {
            ExportStore(c.target, c.special);
            EXPECT_EQ(c.code, 0) << c.target << refusing;
        } catch (const EInOutError& error) {
            EXPECT_EQ(error.Code(), c.code) << c.target << refusing;
        }
    }
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(Names(dir_.Path()), std::vector<std::string>{"fifo.mid"});
}

std::atomic<int> interruptions{0};

// A signal that reaches a write blocked on a full pipe ends it early: with nothing written yet
// it fails with EINTR, after some bytes it returns short. Either way the rest must follow.
TEST_F(FileOutputPosixTest, WritesCutShortBySignalsCarryOnToTheEnd) {
    const std::string fifo = Name("pipe.mid");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::vector<Bytes> messages;
    for (unsigned k = 0; k < 40; ++k) messages.push_back(StoredMessage(65535, k));
    FillStore(messages);

    struct sigaction action {}, previous {};
    action.sa_handler = [](int) { ++interruptions; };
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the signal must end the blocked write
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);

    // The reader's own write end keeps it from seeing the end before the export has opened.
    const int readEnd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(readEnd, 0);
    ::fcntl(readEnd, F_SETFL, 0);
    const int holdEnd = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(holdEnd, 0);

    const pthread_t writer = ::pthread_self();
    Bytes received;
    std::thread reader([&] {
        std::uint8_t buffer[4096];
        for (;;) {
            const ssize_t got = ::read(readEnd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            received.insert(received.end(), buffer, buffer + got);
            ::pthread_kill(writer, SIGUSR1);
        }
    });
    std::string failure;
    try {
        ExportStore(fifo);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    ::close(holdEnd);
    reader.join();
    ::close(readEnd);
    ::sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_EQ(failure, "");
    EXPECT_GT(interruptions.load(), 0);
    EXPECT_TRUE(received == ExpectedFile(messages)) << received.size() << " bytes received";
}

}  // namespace
}  // namespace smf::test
