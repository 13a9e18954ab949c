#include "ui/LineBreaks.h"

#include <QFontMetrics>

namespace ui {

bool MayBreakAfter(QChar c) {
    return c == u' ' || c == QChar(0x3000) || c == QChar(0x3001) || c == QChar(0x3002);
}

namespace {

// One line of the text (no line ends inside), broken greedily.
QString BreakLine(QStringView line, int width, const std::function<int(QStringView)>& measure) {
    QString out;
    qsizetype lineStart = 0;  // in `line`, where the current output line begins
    qsizetype pieceStart = 0;
    while (pieceStart < line.size()) {
        qsizetype pieceEnd = pieceStart;
        while (pieceEnd < line.size() && !MayBreakAfter(line[pieceEnd])) ++pieceEnd;
        if (pieceEnd < line.size()) ++pieceEnd;  // the break point stays with its piece
        // The spaces a line ends with take no room on it.
        QStringView candidate = line.mid(lineStart, pieceEnd - lineStart);
        while (!candidate.isEmpty() && candidate.back().isSpace()) candidate.chop(1);
        if (pieceStart > lineStart && measure(candidate) > width) {
            out += line.mid(lineStart, pieceStart - lineStart);
            out += u'\n';
            lineStart = pieceStart;
        }
        pieceStart = pieceEnd;
    }
    out += line.mid(lineStart);
    return out;
}

}  // namespace

QString BreakLines(const QString& text, int width, const std::function<int(QStringView)>& measure) {
    if (width <= 0) return text;
    QString out;
    const QList<QStringView> lines = QStringView(text).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0) out += u'\n';
        out += BreakLine(lines[i], width, measure);
    }
    return out;
}

BrokenLabel::BrokenLabel(QWidget* parent) : QLabel(parent) { setWordWrap(false); }

void BrokenLabel::SetText(const QString& text) {
    text_ = text;
    const QFontMetrics metrics = fontMetrics();
    setText(BreakLines(text_, width_, [&metrics](QStringView piece) { return metrics.horizontalAdvance(piece.toString()); }));
}

void BrokenLabel::SetBreakWidth(int widthPx) {
    width_ = widthPx;
    SetText(text_);
}

}  // namespace ui
