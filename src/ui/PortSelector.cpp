#include "ui/PortSelector.h"

#include <QSignalBlocker>
#include <chrono>
#include <future>

#include "midi/OutputService.h"
#include "midi/Port.h"

namespace ui {

PortSelector::PortSelector(QWidget* parent) : QComboBox(parent) {
    // QComboBox raises `activated` exactly for user choices (mouse, wheel, keys on the closed
    // list, the same entry again), never for setCurrentIndex from code.
    connect(this, &QComboBox::activated, this, &PortSelector::userChose);
}

std::string PortSelector::Refill(const std::vector<std::string>& entries) {
    const int was = currentIndex();
    const std::string name = ChosenName();
    const QSignalBlocker quiet(this);
    clear();
    names_ = entries;
    for (const std::string& entry : entries) {
        addItem(QString::fromStdString(midi::EntryText(entry, midi::EntryWidth::Selector)));
        setItemData(count() - 1, QString::fromStdString(entry), Qt::ToolTipRole);
    }
    int now = was <= 0 ? was : -1;
    if (was > 0 && was < count() && EntryName(was) == name) now = was;
    for (int k = 1; now < 0 && was > 0 && k < count(); ++k) {
        if (EntryName(k) == name) now = k;
    }
    setCurrentIndex(now < count() ? now : -1);
    return was > 0 && now < 0 ? name : std::string();
}

std::string PortSelector::EntryName(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < names_.size() ? names_[static_cast<std::size_t>(index)]
                                                                         : std::string();
}

void PortSelector::showPopup() {
    if (beforePopup) beforePopup();
    QComboBox::showPopup();
}

std::vector<std::string> ListAside(const std::function<std::vector<std::string>()>& list) {
    std::future<std::vector<std::string>> listing;
    try {
        listing = std::async(std::launch::async, list);
    } catch (const std::system_error&) {
        return list();  // no thread to be had: list here, bounded all the same
    }
    while (listing.wait_for(std::chrono::milliseconds(10)) == std::future_status::timeout) midi::WhileWaiting();
    return listing.get();
}

}  // namespace ui
