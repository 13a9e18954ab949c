#include "ui/Bevel.h"

#include <QPainter>

namespace ui {

namespace {

// One outline of a raised (or lowered) 1-pixel edge around `r`.
void DrawEdge(QPainter& p, const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
    p.setPen(topLeft);
    p.drawLine(r.left(), r.top(), r.right(), r.top());
    p.drawLine(r.left(), r.top(), r.left(), r.bottom());
    p.setPen(bottomRight);
    p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    p.drawLine(r.right(), r.top(), r.right(), r.bottom());
}

void DrawPanelEdge(QPainter& p, QRect& r, Edge edge, const QPalette& palette) {
    if (edge == Edge::None) return;
    const QColor light = palette.color(QPalette::Light);
    const QColor shadow = palette.color(QPalette::Dark);
    if (edge == Edge::Raised) DrawEdge(p, r, light, shadow);
    else DrawEdge(p, r, shadow, light);
    r.adjust(1, 1, -1, -1);
}

}  // namespace

Bevel::Bevel(Shape shape, QWidget* parent) : QWidget(parent), shape_(shape) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

void Bevel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QColor light = palette().color(QPalette::Light);
    const QColor shadow = palette().color(QPalette::Dark);
    const QRect r = rect();
    if (shape_ == Shape::Box) {
        DrawEdge(p, r, light, shadow);
        return;
    }
    // A ridge: a shadow outline inset from the top left, then a highlight outline inset from the
    // bottom right.
    // (QPainter::drawRect covers width + 1 pixels, hence the sizes.)
    const int w = r.width();
    const int h = r.height();
    p.setPen(shadow);
    p.drawRect(QRect(1, 1, w - 2, h - 2));
    p.setPen(light);
    p.drawRect(QRect(0, 0, w - 2, h - 2));
}

Panel::Panel(Edge outer, int gap, Edge inner, QWidget* parent)
    : QWidget(parent), outer_(outer), gap_(gap), inner_(inner) {
    setAutoFillBackground(true);
}

void Panel::SetColor(const QColor& color) {
    QPalette pal = palette();
    pal.setColor(QPalette::Window, color);
    setPalette(pal);
}

void Panel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QRect r = rect();
    DrawPanelEdge(p, r, outer_, palette());
    r.adjust(gap_, gap_, -gap_, -gap_);
    DrawPanelEdge(p, r, inner_, palette());
}

}  // namespace ui
