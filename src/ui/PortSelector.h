#pragma once
// The port selector. `userChose` comes for every entry the user picks, with the mouse, the
// wheel or the arrow keys on the closed list, also when it is the entry already chosen; setting
// the selection from code tells nothing.

#include <QComboBox>

namespace ui {

class PortSelector : public QComboBox {
    Q_OBJECT
public:
    explicit PortSelector(QWidget* parent);

signals:
    void userChose(int index);
};

}  // namespace ui
