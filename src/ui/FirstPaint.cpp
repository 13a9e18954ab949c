#include "ui/FirstPaint.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace ui {

namespace {

// Watches every paint until the window's first; the timer then runs after the paint pass that
// the event belongs to, flush included.
class FirstPaintWatch final : public QObject {
public:
    // A child of the window, so that a window closed before it was ever painted takes its
    // watch along.
    FirstPaintWatch(QWidget* window, std::function<void()> then)
        : QObject(window), window_(window), then_(std::move(then)) {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() != QEvent::Paint || done_) return false;
        auto* widget = qobject_cast<QWidget*>(object);
        if (!widget || !window_ || widget->window() != window_) return false;
        done_ = true;
        qApp->removeEventFilter(this);
        QTimer::singleShot(0, this, [this] {
            then_();
            deleteLater();
        });
        return false;
    }

private:
    QPointer<QWidget> window_;
    std::function<void()> then_;
    bool done_ = false;
};

}  // namespace

void AfterFirstPaint(QWidget* window, std::function<void()> then) {
    new FirstPaintWatch(window, std::move(then));
}

}  // namespace ui
