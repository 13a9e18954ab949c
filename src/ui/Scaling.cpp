#include "ui/Scaling.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QWidget>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QRawFont>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace ui {

namespace {
// The window font of both windows; it draws no text, it only measures the screen.
const char* const kWindowFontFamily = "System";
constexpr int kWindowFontPixels = 13;

// The English names under which Windows outside Japan knows the layout's Japanese fonts.
QString EnglishName(const QString& layoutName) {
    if (layoutName == QStringLiteral("ＭＳ Ｐゴシック")) return QStringLiteral("MS PGothic");
    if (layoutName == QStringLiteral("ＭＳ ゴシック")) return QStringLiteral("MS Gothic");
    return layoutName;
}

// The family itself where it is installed, else its first installed stand-in (as the installed
// family spells itself). Asked for a family that is not installed, Qt's fontconfig database has
// every font sorted against it, once for each family, style and script, before it tries the
// stand-ins: about a tenth of the window's start for the same fonts in the end. Windows names
// its fonts to the system directly, so there the family is asked for as it is.
QString InstalledFamily(const QString& family) {
#ifdef Q_OS_WIN
    return family;
#else
    const QStringList installed = QFontDatabase::families();
    const auto spelling = [&installed](const QString& name) {
        const auto at = std::find_if(installed.begin(), installed.end(),
                                     [&name](const QString& one) { return one.compare(name, Qt::CaseInsensitive) == 0; });
        return at == installed.end() ? QString() : *at;
    };
    for (const QString& candidate : QStringList{family} + QFont::substitutes(family)) {
        if (const QString found = spelling(candidate); !found.isEmpty()) return found;
    }
    return family;
#endif
}

bool IsStandIn(const QString& layoutName, const QString& found) {
    return found != layoutName && found != EnglishName(layoutName);
}

bool HasBoldFace(const QString& family) {
    const QStringList styles = QFontDatabase::styles(family);
    return std::any_of(styles.begin(), styles.end(),
                       [&family](const QString& style) { return QFontDatabase::bold(family, style); });
}

// Windows draws a bold that a font lacks by widening every glyph a pixel. The named Japanese
// fonts lack one too, and the layout was drawn with that pixel; but a stand-in's letters are
// wider to begin with (IPAGothic's half-width Latin against MS PGothic's proportional one), and
// with the pixel on top the pane's longest line, "Machine:Unknown(42H)", wraps and the About
// box's notice reaches the panel's edge. A stand-in gets that pixel back.
void GiveBackSyntheticBoldWidth(QFont& font) {
    const QString found = QFontInfo(font).family();
    if (HasBoldFace(found)) return;
    QFont regular = font;
    regular.setBold(false);
    const int widened = QFontMetrics(font).horizontalAdvance(QChar('M')) - QFontMetrics(regular).horizontalAdvance(QChar('M'));
    if (widened > 0) font.setLetterSpacing(QFont::AbsoluteSpacing, -widened);
}

}  // namespace

void InstallFontSubstitutions() {
    // A named font that is installed is used as it is; these stand in only where it is missing.
    // The Japanese fonts come with Japanese Windows (and under their English names with Windows'
    // Japanese support elsewhere); the others are chosen among the fonts the set-up installs.
    // "System" stands in for a raster font whose 13-pixel size measures 18 pixels high: Noto Sans
    // Mono does, at 96 dpi (13 px -> 18) and at 144 dpi (20 px -> 27), so the layout scale comes
    // out at exactly 1 and 1.5.
    // IPAPGothic's Latin letters are much wider than the layout's proportional Gothic: the pane's
    // longest line, "Machine:Unknown(42H)", would wrap in its 147 pixels. IPAGothic's half-width
    // Latin letters keep every line of the pane and the list on one line, as designed.
    for (const QString& gothic : {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("ＭＳ ゴシック")})
        QFont::insertSubstitutions(gothic, {EnglishName(gothic), QStringLiteral("IPAGothic"), QStringLiteral("IPAPGothic")});
    QFont::insertSubstitutions(QStringLiteral("Courier"), {QStringLiteral("Liberation Mono"), QStringLiteral("DejaVu Sans Mono")});
    QFont::insertSubstitutions(QStringLiteral("Arial"), {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("Comic Sans MS"), {QStringLiteral("Comic Neue"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QString::fromLatin1(kWindowFontFamily), {QStringLiteral("Noto Sans Mono"), QStringLiteral("DejaVu Sans Mono")});
}

int Scaled(int designPixels, double scale) {
    return static_cast<int>(std::floor(designPixels * scale + 0.5));
}

QRect Scaled(const QRect& design, double scale) {
    return {Scaled(design.x(), scale), Scaled(design.y(), scale), Scaled(design.width(), scale),
            Scaled(design.height(), scale)};
}

double LayoutScale(double logicalDpi, int designTextHeight) {
    const QString family = QString::fromLatin1(kWindowFontFamily);
    QFont windowFont(InstalledFamily(family));
    windowFont.setPixelSize(Scaled(kWindowFontPixels, logicalDpi / 96.0));
    // The layout's window font is the Japanese system font (Shift-JIS). Where the platform
    // answers "System" with a font without Japanese, Windows' and Wine's Western raster font, that
    // measures 16 where the Japanese one measures 18: a different font, not a different screen,
    // so it counts as missing. Only the font that answers counts, not others of its name.
    if (QFontInfo(windowFont).family() == family && !QRawFont::fromFont(windowFont).supportsCharacter(QChar(0x3042))) {
        windowFont.setFamilies(QFont::substitutes(family));
    }
    // Neither the font nor a stand-in installed: nothing on the machine measures as designed, so
    // the layout follows the screen's dpi alone.
    const QString found = QFontInfo(windowFont).family();
    if (found != family && !QFont::substitutes(family).contains(found)) return logicalDpi / 96.0;
    const int measured = QFontMetrics(windowFont).height();
    return measured == designTextHeight ? 1.0 : static_cast<double>(measured) / designTextHeight;
}

double ScreenLayoutScale(int designTextHeight) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return LayoutScale(screen ? screen->logicalDotsPerInchY() : 96.0, designTextHeight);
}

QFont LayoutFont(const QString& family, int designPixelSize, double scale, bool bold) {
    QFont font(InstalledFamily(family));
    font.setPixelSize(Scaled(designPixelSize, scale));
    font.setBold(bold);
    if (bold && IsStandIn(family, QFontInfo(font).family())) GiveBackSyntheticBoldWidth(font);
    return font;
}

QGridLayout* DialogGrid(QWidget* dialog, double scale) {
    dialog->setAutoFillBackground(true);
    dialog->setBackgroundRole(QPalette::Button);
    dialog->setFont(LayoutFont(QStringLiteral("ＭＳ Ｐゴシック"), 13, scale));
    auto* grid = new QGridLayout(dialog);
    grid->setContentsMargins(Scaled(8, scale), Scaled(8, scale), Scaled(8, scale), Scaled(8, scale));
    grid->setHorizontalSpacing(Scaled(6, scale));
    grid->setVerticalSpacing(Scaled(6, scale));
    return grid;
}

}  // namespace ui
