#include "ui/MessageList.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace ui {

MessageList::MessageList(QWidget* parent) : QListWidget(parent) {}

void MessageList::mousePressEvent(QMouseEvent* event) {
    QListWidget::mousePressEvent(event);
    if (event->button() != Qt::LeftButton) return;
    const QModelIndex hit = indexAt(event->position().toPoint());
    if (hit.isValid() && currentRow() == hit.row()) emit userSelected(hit.row());
}

void MessageList::mouseMoveEvent(QMouseEvent* event) {
    const int before = currentRow();
    QListWidget::mouseMoveEvent(event);
    if ((event->buttons() & Qt::LeftButton) && currentRow() != before && currentRow() >= 0)
        emit userSelected(currentRow());
}

void MessageList::keyPressEvent(QKeyEvent* event) {
    const int before = currentRow();
    QListWidget::keyPressEvent(event);
    if (currentRow() != before && currentRow() >= 0) emit userSelected(currentRow());
}

}  // namespace ui
