#pragma once
// The message list. Its lines are made when they are shown, not when the list is filled, so a
// dump of a million messages lists as fast as one of ten (a list of items would build every
// line, and its item objects, first). Besides QListView's signals it tells when the *user*
// selects a line: every mouse click on a line (the line already selected too, so a message can
// be sent again), every line passed while dragging, and every line reached with the arrow keys,
// Page Up/Down, Home or End. Filling or emptying the list from code tells nothing.

#include <QListView>

#include <functional>

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

signals:
    void userSelected(int row);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    LazyLines* lines_;
};

}  // namespace ui
