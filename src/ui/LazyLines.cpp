#include "ui/LazyLines.h"

namespace ui {

void LazyLines::Show(int count, std::function<QString(int)> lineText, std::function<QVariant(int)> userData,
                     std::function<QString(int)> toolTip) {
    beginResetModel();
    count_ = count;
    lineText_ = std::move(lineText);
    userData_ = std::move(userData);
    toolTip_ = std::move(toolTip);
    endResetModel();
}

int LazyLines::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count_; }

QVariant LazyLines::data(const QModelIndex& index, int role) const {
    if (role == Qt::UserRole) {
        return index.isValid() && index.row() < count_ && userData_ ? userData_(index.row()) : QVariant();
    }
    if (role == Qt::ToolTipRole) {
        return index.isValid() && index.row() < count_ && toolTip_ ? QVariant(toolTip_(index.row())) : QVariant();
    }
    if ((role != Qt::DisplayRole && role != Qt::EditRole) || !index.isValid() || index.row() >= count_ || !lineText_) {
        return {};
    }
    return lineText_(index.row());
}

}  // namespace ui
