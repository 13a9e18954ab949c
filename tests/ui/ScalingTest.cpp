// The layout scale: exactly 1 at 96 dpi and 1.5 at 144 dpi with the fonts the set-up installs,
// and design rectangles scaled with the platform's half-up rounding.

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <gtest/gtest.h>

#include "ui/Scaling.h"

namespace {

TEST(Scaling, WindowFontMeasuresTheDesignHeightAt96Dpi) {
    EXPECT_DOUBLE_EQ(ui::LayoutScale(96, 18), 1.0);
    EXPECT_DOUBLE_EQ(ui::LayoutScale(144, 18), 1.5);
}

TEST(Scaling, RectanglesRoundHalfUp) {
    EXPECT_EQ(ui::Scaled(QRect(96, 3, 223, 20), 1.5), QRect(144, 5, 335, 30));
    EXPECT_EQ(ui::Scaled(QRect(8, 4, 152, 18), 1.0), QRect(8, 4, 152, 18));
}

// A named font that is installed (Wine's System where its fonts are, all of them on a Japanese
// Windows) is used as it is; the stand-in only where it is missing.
TEST(Scaling, LayoutFontNamesResolveToInstalledFonts) {
    struct Case {
        const char* layoutName;
        const char* standIn;
    };
    for (const Case c : {Case{"ＭＳ Ｐゴシック", "IPAGothic"}, Case{"ＭＳ ゴシック", "IPAGothic"},
                         Case{"Courier", "Liberation Mono"}, Case{"Arial", "Liberation Sans"},
                         Case{"Comic Sans MS", "Comic Neue"}, Case{"System", "Noto Sans Mono"}}) {
        const QString name = QString::fromUtf8(c.layoutName);
        const QFont font = ui::LayoutFont(name, 13, 1.0);
        const QString found = QFontInfo(font).family();
        EXPECT_EQ(found, QFontDatabase::hasFamily(name) ? name : QString::fromUtf8(c.standIn)) << c.layoutName;
        // A raster font (Wine's System) comes in the sizes it has.
        if (QFontDatabase::isSmoothlyScalable(found)) {
            EXPECT_EQ(QFontInfo(font).pixelSize(), 13) << c.layoutName;
        }
    }
}

TEST(Scaling, LongestPaneLineFitsThePaneWidth) {
    const QFont pane = ui::LayoutFont(QStringLiteral("ＭＳ Ｐゴシック"), 13, 1.0, true);
    EXPECT_LE(QFontMetrics(pane).horizontalAdvance(QStringLiteral("Machine:Unknown(42H)")), 147 - 2);
    EXPECT_LE(QFontMetrics(pane).horizontalAdvance(QStringLiteral("Machine:Wave Station")), 147 - 2);
}

}  // namespace
