#include <gtest/gtest.h>

#include <cerrno>

#include "common/Failure.h"
#include "common/InOutError.h"

namespace kelvane {
namespace {

// The failure display appends "." to the Japanese sentences but not to the numbered form.
TEST(InOutError, CodeGivesTheTextThatTheFailureDisplayShows) {
    const struct {
        int code;
        std::string display;
    } cases[] = {
        {2, "ファイルが見つかりません."},
        {3, "不正なファイル名です."},
        {4, "オープンしたファイルが多すぎます."},
        {5, "ファイルへのアクセスが拒否されました."},
        {100, "ファイルの末尾以降を読み込みました."},
        {101, "ディスクがいっぱいです."},
        {106, "入力値が数値ではありません."},
        {32, "I/O エラー (32)"},
        {1224, "I/O エラー (1224)"},
    };
    for (const auto& c : cases) {
        const EInOutError error(c.code);
        EXPECT_EQ(error.Code(), c.code);
        EXPECT_EQ(kelvane::FailureDisplayText(error.what()), c.display) << c.code;
    }
}

TEST(InOutError, ErrnoFallsOnTheTableRowsOrKeepsItsNumber) {
    const struct {
        int errnoValue;
        int code;
        std::string text;
    } cases[] = {
        {ENOENT, 3, "不正なファイル名です"},
        {ENOTDIR, 3, "不正なファイル名です"},
        {ENAMETOOLONG, 3, "不正なファイル名です"},
        {EACCES, 5, "ファイルへのアクセスが拒否されました"},
        {EPERM, 5, "ファイルへのアクセスが拒否されました"},
        {EROFS, 5, "ファイルへのアクセスが拒否されました"},
        {EISDIR, 5, "ファイルへのアクセスが拒否されました"},
        {EMFILE, 4, "オープンしたファイルが多すぎます"},
        {ENFILE, 4, "オープンしたファイルが多すぎます"},
        {ENOSPC, 101, "ディスクがいっぱいです"},
        // Numbers that coincide with codes of the table are still not those failures.
        {EIO, EIO, "I/O エラー (" + std::to_string(EIO) + ")"},
        {EINTR, EINTR, "I/O エラー (" + std::to_string(EINTR) + ")"},
        {ENETUNREACH, ENETUNREACH, "I/O エラー (" + std::to_string(ENETUNREACH) + ")"},
    };
    for (const auto& c : cases) {
        const EInOutError error = EInOutError::FromErrno(c.errnoValue);
        EXPECT_EQ(error.Code(), c.code) << c.errnoValue;
        EXPECT_EQ(std::string(error.what()), c.text) << c.errnoValue;
    }
}

}  // namespace
}  // namespace kelvane
