#pragma once
// A list model whose lines are made when a view asks for them, not up front: the window's list
// and the receive dialog's choice of request show the store's messages, which may be millions.

#include <QAbstractListModel>

#include <functional>

namespace ui {

class LazyLines : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    // From now on `count` lines, line i being lineText(i) and carrying userData(i) (Qt::UserRole,
    // what QComboBox::currentData() reads) and the tool tip toolTip(i) where those are given.
    void Show(int count, std::function<QString(int)> lineText, std::function<QVariant(int)> userData = {},
              std::function<QString(int)> toolTip = {});
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    int count_ = 0;
    std::function<QString(int)> lineText_;
    std::function<QVariant(int)> userData_;
    std::function<QString(int)> toolTip_;
};

}  // namespace ui
