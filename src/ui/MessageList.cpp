#include "ui/MessageList.h"

#include "ui/LazyLines.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace ui {

MessageList::MessageList(QWidget* parent) : QListView(parent), lines_(new LazyLines(this)) {
    setModel(lines_);
    // Every line has the same height, so the view needs to measure none of a long list's lines.
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void MessageList::ShowLines(int count, std::function<QString(int)> lineText) { lines_->Show(count, std::move(lineText)); }

void MessageList::clear() { lines_->Show(0, {}); }

int MessageList::count() const { return lines_->rowCount({}); }

QString MessageList::text(int row) const { return lines_->data(lines_->index(row), Qt::DisplayRole).toString(); }

int MessageList::currentRow() const { return currentIndex().isValid() ? currentIndex().row() : -1; }

void MessageList::setCurrentRow(int row) { setCurrentIndex(lines_->index(row)); }

QRect MessageList::RowRect(int row) const { return visualRect(lines_->index(row)); }

void MessageList::mousePressEvent(QMouseEvent* event) {
    QListView::mousePressEvent(event);
    if (event->button() != Qt::LeftButton) return;
    const QModelIndex hit = indexAt(event->position().toPoint());
    if (hit.isValid() && currentRow() == hit.row()) emit userSelected(hit.row());
}

void MessageList::mouseMoveEvent(QMouseEvent* event) {
    const int before = currentRow();
    QListView::mouseMoveEvent(event);
    if ((event->buttons() & Qt::LeftButton) && currentRow() != before && currentRow() >= 0)
        emit userSelected(currentRow());
}

void MessageList::keyPressEvent(QKeyEvent* event) {
    const int before = currentRow();
    QListView::keyPressEvent(event);
    if (currentRow() != before && currentRow() >= 0) emit userSelected(currentRow());
}

}  // namespace ui
