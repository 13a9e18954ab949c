#include "ui/LazyLines.h"

namespace ui {

void LazyLines::Show(int count, std::function<QString(int)> lineText) {
    beginResetModel();
    count_ = count;
    lineText_ = std::move(lineText);
    endResetModel();
}

int LazyLines::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count_; }

QVariant LazyLines::data(const QModelIndex& index, int role) const {
    if ((role != Qt::DisplayRole && role != Qt::EditRole) || !index.isValid() || index.row() >= count_ || !lineText_) {
        return {};
    }
    return lineText_(index.row());
}

}  // namespace ui
