#include "ui/PortSelector.h"

namespace ui {

PortSelector::PortSelector(QWidget* parent) : QComboBox(parent) {
    // QComboBox raises `activated` exactly for user choices (mouse, wheel, keys on the closed
    // list, the same entry again), never for setCurrentIndex from code.
    connect(this, &QComboBox::activated, this, &PortSelector::userChose);
}

}  // namespace ui
