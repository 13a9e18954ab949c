#pragma once
// Japanese text in labels, broken into lines only where a line may break without splitting a
// word. Qt's own word wrap follows Unicode's line breaking, which allows a break between any two
// kana or kanji ("メン" / "バー", "くださ" / "い"); our texts mix Japanese with port names, hex
// and numbers and read well only when broken after a space, 、 or 。. GUI thread only.

#include <QLabel>
#include <QString>
#include <QStringView>
#include <functional>

namespace ui {

// Whether a line may end after this character: a space (also the ideographic one), 、 or 。.
bool MayBreakAfter(QChar c);

// `text` with a line end inserted after a break point wherever the next piece (up to the next
// break point) would make the line wider than `width` as `measure` measures it. A piece wider
// than `width` stays whole on a line of its own. The text's own line ends stay; nothing else
// changes, so removing the inserted line ends gives the text back.
QString BreakLines(const QString& text, int width, const std::function<int(QStringView)>& measure);

// A label that shows its text broken by BreakLines to fit `widthPx`, never wrapped by Qt. A piece
// wider than that widens the label (and its dialog) instead of being split.
class BrokenLabel : public QLabel {
public:
    explicit BrokenLabel(QWidget* parent);
    void SetText(const QString& text);
    void Clear() { SetText({}); }
    // The text as given, without the inserted line ends.
    const QString& Text() const { return text_; }
    void SetBreakWidth(int widthPx);
    int BreakWidth() const { return width_; }

private:
    QString text_;
    int width_ = 0;  // 0: no breaks beyond the text's own
};

}  // namespace ui
