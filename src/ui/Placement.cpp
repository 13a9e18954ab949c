#include "ui/Placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace ui {

namespace {

// Returns where the frame's top-left corner went (move() places that corner for a window).
QPoint MoveFrameToCentre(QWidget* window) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return window->pos();
    const QRect frame = window->frameGeometry();
    window->move(screen->availableGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
    return window->pos();
}

// Until the window is mapped Qt takes the frame for the client area: a title bar would put the
// window half its height too low. The frame comes with the move or resize that reparenting into
// the window manager's frame causes; a window the user has moved by then stays where it is.
class CentreOnceFramed : public QObject {
public:
    CentreOnceFramed(QWidget* window, QPoint placed) : QObject(window), window_(window), placed_(placed) {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto type = event->type();
        if (watched == window_ && (type == QEvent::Move || type == QEvent::Resize)) {
            const QWindow* handle = window_->windowHandle();
            if (handle && handle->isVisible() && !handle->frameMargins().isNull()) {
                window_->removeEventFilter(this);
                if (window_->pos() == placed_) MoveFrameToCentre(window_);
                deleteLater();
            }
        }
        return false;
    }

private:
    QWidget* window_;
    QPoint placed_;
};

class FittedSizeKeeper : public QObject {
public:
    explicit FittedSizeKeeper(QWidget* window) : QObject(window), window_(window) { window->installEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Resize && window_->minimumSize() == window_->maximumSize() &&
            window_->size() != window_->minimumSize()) {
            QTimer::singleShot(0, window_, [window = QPointer<QWidget>(window_)] {
                if (window && window->size() != window->minimumSize()) window->resize(window->minimumSize());
            });
        }
        return false;
    }

private:
    QWidget* window_;
};

}  // namespace

void CentreOnDesktop(QWidget* window) {
    const QPoint placed = MoveFrameToCentre(window);
    const QWindow* handle = window->windowHandle();
    const bool framed = handle && handle->isVisible() && !handle->frameMargins().isNull();
    if (!framed) new CentreOnceFramed(window, placed);
}

void KeepFittedSize(QWidget* window) { new FittedSizeKeeper(window); }

}  // namespace ui
