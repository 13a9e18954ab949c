#include "ui/MessageList.h"

#include "ui/LazyLines.h"

#include <algorithm>

#include <QApplication>
#include <QDrag>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

namespace ui {

namespace {

// What a move within the list carries: nothing, the selection says what moves.
const QString MoveFormat = QStringLiteral("application/x-kelvane-message-move");

}  // namespace

MessageList::MessageList(QWidget* parent) : QListView(parent), lines_(new LazyLines(this)) {
    setModel(lines_);
    // Every line has the same height, so the view needs to measure none of a long list's lines.
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    viewport()->setAcceptDrops(true);
}

std::vector<std::int32_t> MessageList::SelectedRows() const {
    std::vector<std::int32_t> rows;
    // By ranges, not indexes: Ctrl+A on a million lines is one range.
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row) rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void MessageList::SelectRows(const std::vector<std::int32_t>& rows, int current) {
    QItemSelection selection;
    std::size_t runs = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i == 0 || rows[i] != rows[i - 1] + 1) ++runs;
    }
    // Thousands of scattered ranges would cost the selection model more than they show.
    if (runs <= 1000) {
        for (std::size_t i = 0; i < rows.size();) {
            std::size_t end = i + 1;
            while (end < rows.size() && rows[end] == rows[end - 1] + 1) ++end;
            selection.select(lines_->index(rows[i]), lines_->index(rows[end - 1]));
            i = end;
        }
    } else if (current >= 0) {
        selection.select(lines_->index(current), lines_->index(current));
    }
    selectionModel()->setCurrentIndex(lines_->index(current), QItemSelectionModel::NoUpdate);
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (current >= 0) scrollTo(lines_->index(current));
}

void MessageList::ShowLines(int count, std::function<QString(int)> lineText) { lines_->Show(count, std::move(lineText)); }

void MessageList::clear() { lines_->Show(0, {}); }

int MessageList::count() const { return lines_->rowCount({}); }

QString MessageList::text(int row) const { return lines_->data(lines_->index(row), Qt::DisplayRole).toString(); }

int MessageList::currentRow() const { return currentIndex().isValid() ? currentIndex().row() : -1; }

void MessageList::setCurrentRow(int row) { setCurrentIndex(lines_->index(row)); }

QRect MessageList::RowRect(int row) const { return visualRect(lines_->index(row)); }

void MessageList::mousePressEvent(QMouseEvent* event) {
    const QModelIndex pressed = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && event->modifiers() == Qt::NoModifier && pressed.isValid() &&
        selectionModel()->isSelected(pressed)) {
        // Perhaps the start of a move: the selection stays until the mouse is released unmoved.
        movePressRow_ = pressed.row();
        movePressAt_ = event->position().toPoint();
        return;
    }
    movePressRow_ = -1;
    QListView::mousePressEvent(event);
    if (event->button() != Qt::LeftButton) return;
    const QModelIndex hit = indexAt(event->position().toPoint());
    if (hit.isValid() && currentRow() == hit.row()) emit userSelected(hit.row());
}

void MessageList::mouseMoveEvent(QMouseEvent* event) {
    if (movePressRow_ >= 0) {
        if ((event->buttons() & Qt::LeftButton) &&
            (event->position().toPoint() - movePressAt_).manhattanLength() >= QApplication::startDragDistance()) {
            movePressRow_ = -1;
            auto* drag = new QDrag(this);
            auto* data = new QMimeData;
            data->setData(MoveFormat, {});
            drag->setMimeData(data);
            drag->exec(Qt::MoveAction);
        }
        return;
    }
    const int before = currentRow();
    QListView::mouseMoveEvent(event);
    if ((event->buttons() & Qt::LeftButton) && currentRow() != before && currentRow() >= 0)
        emit userSelected(currentRow());
}

void MessageList::mouseReleaseEvent(QMouseEvent* event) {
    if (movePressRow_ < 0) return QListView::mouseReleaseEvent(event);
    // A click on a selected line without a drag: that line alone, as a click on any line.
    const int row = movePressRow_;
    movePressRow_ = -1;
    SelectRows({row}, row);
    emit userSelected(row);
}

int MessageList::DropBefore(const QPoint& at) const {
    const QModelIndex over = indexAt(at);
    if (!over.isValid()) return at.y() < 0 ? 0 : count();
    return at.y() > visualRect(over).center().y() ? over.row() + 1 : over.row();
}

void MessageList::dragEnterEvent(QDragEnterEvent* event) {
    // Anything but our own move (a file) goes on to the window.
    if (event->source() != this || !event->mimeData()->hasFormat(MoveFormat)) return event->ignore();
    event->acceptProposedAction();
}

void MessageList::dragMoveEvent(QDragMoveEvent* event) {
    if (event->source() != this || !event->mimeData()->hasFormat(MoveFormat)) return event->ignore();
    const QPoint at = event->position().toPoint();
    // Near an edge the list scrolls, so a move can reach lines out of sight.
    const int edge = viewport()->height() / 8;
    if (at.y() < edge) verticalScrollBar()->setValue(verticalScrollBar()->value() - 1);
    if (at.y() > viewport()->height() - edge) verticalScrollBar()->setValue(verticalScrollBar()->value() + 1);
    dropBefore_ = DropBefore(at);
    viewport()->update();
    event->acceptProposedAction();
}

void MessageList::dragLeaveEvent(QDragLeaveEvent* event) {
    dropBefore_ = -1;
    viewport()->update();
    event->accept();
}

void MessageList::dropEvent(QDropEvent* event) {
    if (event->source() != this || !event->mimeData()->hasFormat(MoveFormat)) return event->ignore();
    const int before = DropBefore(event->position().toPoint());
    dropBefore_ = -1;
    viewport()->update();
    // Copy, not move: the drag's source must not remove anything itself.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    emit movedBefore(before);
}

void MessageList::paintEvent(QPaintEvent* event) {
    QListView::paintEvent(event);
    if (dropBefore_ < 0) return;
    const int y = dropBefore_ < count() ? visualRect(lines_->index(dropBefore_)).top()
                                        : visualRect(lines_->index(count() - 1)).bottom() + 1;
    QPainter painter(viewport());
    painter.setPen(QPen(palette().color(QPalette::Text), 2));
    painter.drawLine(0, y, viewport()->width(), y);
}

void MessageList::keyPressEvent(QKeyEvent* event) {
    const int before = currentRow();
    QListView::keyPressEvent(event);
    if (currentRow() != before && currentRow() >= 0) emit userSelected(currentRow());
}

}  // namespace ui
