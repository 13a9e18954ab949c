// Where label texts break: only after a space, 、 or 。, never inside a word, and a piece wider
// than the line keeps a line of its own. Measured here in characters, so that the rows read as
// the lines they make.

#include <gtest/gtest.h>

#include "ui/LineBreaks.h"

namespace {

TEST(LineBreaks, BreakOnlyBetweenWords) {
    const struct {
        const char* what;
        const char* text;
        int width;
        const char* shown;
    } cases[] = {
        {"fits", "応答がありません", 8, "応答がありません"},
        {"at spaces", "メンバー 128 ファミリー 42H", 8, "メンバー 128 \nファミリー \n42H"},
        {"after 、 and 。", "接続を確かめて、選び直してください。次へ", 8, "接続を確かめて、\n選び直してください。\n次へ"},
        {"a word wider than the line stays whole", "くださいくださいください", 4, "くださいくださいください"},
        {"the text's own line ends stay", "ab cd\nef gh", 2, "ab \ncd\nef \ngh"},
        {"a trailing space takes no room", "ab cd ef", 5, "ab cd \nef"},
        {"no width, no breaks", "ab cd", 0, "ab cd"},
    };
    for (const auto& c : cases) {
        const QString shown =
            ui::BreakLines(QString::fromUtf8(c.text), c.width, [](QStringView piece) { return static_cast<int>(piece.size()); });
        EXPECT_EQ(shown.toStdString(), c.shown) << c.what;
    }
}

}  // namespace
