#pragma once
// Layout positions are pixels designed at 96 dpi with a window font whose text height is 18.
// The window font is first sized for the screen's dpi; when its measured text height then
// differs from the design height, every position, size and control font is scaled by
// measured / design.

#include <QFont>
#include <QRect>
#include <QString>

class QGridLayout;
class QWidget;

namespace ui {

// Registers the fonts that stand in for the layout's Windows font names on this machine, so
// that QFont("ＭＳ Ｐゴシック") and friends resolve to installed fonts. Call once, before any
// window is built.
void InstallFontSubstitutions();

// The factor every design position and font size is multiplied by, for the given logical dpi
// and the design text height of the window font (18). The About box uses the same measure:
// its own 12-pixel font has no stand-in here that measures 12. A "System" font without
// Japanese (Windows' Western one) counts as missing and its stand-in measures instead; with
// neither installed the factor is the dpi's alone.
double LayoutScale(double logicalDpi, int designTextHeight);

// The same for the primary screen.
double ScreenLayoutScale(int designTextHeight);

// Design pixels to screen pixels, rounding as the platform's own scaling does (half up).
int Scaled(int designPixels, double scale);
QRect Scaled(const QRect& design, double scale);

// A font of the layout: family as named in the layout, character height in design pixels.
QFont LayoutFont(const QString& family, int designPixelSize, double scale, bool bold = false);

// What the dialogs (receive, send) share: the button face as background, the layout's Gothic
// at 13 design pixels, and a grid with 8-pixel margins and 6-pixel spacing, all scaled. Returns
// the grid, laid on `dialog`.
QGridLayout* DialogGrid(QWidget* dialog, double scale);

}  // namespace ui
