#pragma once
// The message list. Besides QListWidget's signals it tells when the *user* selects a line:
// every mouse click on a line (the line already selected too, so a message can be sent again),
// every line passed while dragging, and every line reached with the arrow keys, Page Up/Down,
// Home or End. Filling or emptying the list from code tells nothing.

#include <QListWidget>

namespace ui {

class MessageList : public QListWidget {
    Q_OBJECT
public:
    explicit MessageList(QWidget* parent);

signals:
    void userSelected(int row);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace ui
