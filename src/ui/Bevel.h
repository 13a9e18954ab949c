#pragma once
// The classic 3-D edges of the layout: bevels (drawn boxes and ridged frames behind headings
// and around the list and pane) and panels with raised or lowered edges. They take no input.

#include <QWidget>

namespace ui {

class Bevel : public QWidget {
public:
    enum class Shape { Box, Frame };
    Bevel(Shape shape, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Shape shape_;
};

// A panel's edge, from the outside in: an outer bevel, a gap of the panel's colour, an inner bevel.
enum class Edge { None, Raised, Lowered };

class Panel : public QWidget {
public:
    Panel(Edge outer, int gap, Edge inner, QWidget* parent);
    void SetColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Edge outer_;
    int gap_;
    Edge inner_;
};

}  // namespace ui
