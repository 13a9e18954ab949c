// The file output against the failures a POSIX system produces: permissions, a full device, a
// file-size limit, and writes cut short by signals.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "Files.h"
#include "ForkedChild.h"
#include "SmfTestMessages.h"
#include "TempDir.h"
#include "Unprivileged.h"
#include "common/Failure.h"
#include "smf/InOutError.h"
#include "smf/SmfWriter.h"
#include "sysex/Store.h"

namespace smf::test {
namespace {

namespace fs = std::filesystem;
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

TEST_F(FileOutputPosixTest, FullDeviceShowsTheSystemsNumber) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "this system has no /dev/full";
    FillStore({StoredMessage(6, 0)});
    try {
        ExportStore("/dev/full");
        FAIL() << "no failure";
    } catch (const EInOutError& error) {
        EXPECT_EQ(error.Code(), 28);
        EXPECT_EQ(kelvane::FailureDisplayText(error.what()), "I/O エラー (28)");
    }
}

// A file-size limit cuts the first large write short and refuses the next one: the file must
// hold exactly the bytes up to the limit, and the failure shows the system's number (EFBIG).
TEST_F(FileOutputPosixTest, FailedWriteLeavesExactlyTheBytesWrittenBefore) {
    const std::vector<Bytes> messages = {StoredMessage(4000, 1), StoredMessage(4000, 2), StoredMessage(4000, 3)};
    FillStore(messages);
    const std::string path = Name("limited.mid");
    // In a child, so that the limit stays out of the test process.
    const auto status = testsupport::RunInChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{5000, 5000};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 124;
        return ExportOutcome(path, 27, "I/O エラー (27)");
    });
    ASSERT_NE(status, 124) << "cannot limit the file size";
    EXPECT_EQ(status, Refused);
    const Bytes expected = ExpectedFile(messages);
    EXPECT_EQ(ReadAll(path), Bytes(expected.begin(), expected.begin() + 5000));
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
