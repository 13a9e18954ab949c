#pragma once
// The message list. Its lines are made when they are shown, not when the list is filled, so a
// dump of a million messages lists as fast as one of ten (a list of items would build every
// line, and its item objects, first). Besides QListView's signals it tells when the *user*
// selects a line: every mouse click on a line (the line already selected too, so a message can
// be sent again), every line passed while dragging, and every line reached with the arrow keys,
// Page Up/Down, Home or End. Filling or emptying the list from code tells nothing.
//
// Several lines may be selected (Shift and Ctrl with the mouse and the arrow keys, Ctrl+A); the
// current line is the one the user reached last. Dragging lines that are selected moves them
// within the list: the list only tells where they were dropped (movedBefore), the window moves
// the messages. Dragging from a line not selected selects as before. A file dragged onto the
// list is left to the window.

#include <QListView>

#include <cstdint>
#include <functional>
#include <vector>

namespace ui {

class LazyLines;

class MessageList : public QListView {
    Q_OBJECT
public:
    explicit MessageList(QWidget* parent);

    // Shows `count` lines, line i being lineText(i); no line is selected afterwards.
    void ShowLines(int count, std::function<QString(int)> lineText);
    void clear();
    int count() const;
    QString text(int row) const;
    int currentRow() const;
    void setCurrentRow(int row);
    QRect RowRect(int row) const;

    // The selected lines, ascending.
    std::vector<std::int32_t> SelectedRows() const;
    // Selects exactly `rows` (ascending) and makes `current` the current line, scrolled into view.
    void SelectRows(const std::vector<std::int32_t>& rows, int current);

signals:
    void userSelected(int row);
    // The selected lines were dragged and dropped before line `before` (count() for the end).
    void movedBefore(int before);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int DropBefore(const QPoint& at) const;

    LazyLines* lines_;
    int movePressRow_ = -1;  // a selected line pressed: a move if the mouse is dragged
    QPoint movePressAt_;
    int dropBefore_ = -1;    // where a move would drop, while one is dragged over the list
};

}  // namespace ui
