#pragma once
// The port selector. `userChose` comes for every entry the user picks, with the mouse, the
// wheel or the arrow keys on the closed list, also when it is the entry already chosen; setting
// the selection from code tells nothing.
//
// Devices come and go while the program runs: `beforePopup` runs each time the user opens the
// list, so that it can be filled afresh (Refill) with the ports that exist now.

#include <QComboBox>
#include <functional>
#include <string>
#include <vector>

namespace ui {

class PortSelector : public QComboBox {
    Q_OBJECT
public:
    explicit PortSelector(QWidget* parent);

    // Replaces the entries ("(None)" first; ports by their whole names), keeping the chosen port
    // by its name: the same entry when it still has that name, otherwise the first entry of that
    // name. "(None)" and no choice at all stay as they are. Tells nothing through `userChose`.
    // Returns the name of the chosen port when it is no longer listed (nothing is chosen then),
    // empty otherwise. An entry shows at most midi::MaxEntryChars characters of its name (the
    // whole name in its tooltip), but is told apart from the others by the whole name: two
    // ports whose names differ only further on are two ports.
    std::string Refill(const std::vector<std::string>& entries);

    // The whole name of entry `index`; empty for none.
    std::string EntryName(int index) const;
    // The whole name of the chosen entry; empty when none is chosen.
    std::string ChosenName() const { return EntryName(currentIndex()); }

    std::function<void()> beforePopup;

    void showPopup() override;

signals:
    void userChose(int index);

private:
    std::vector<std::string> names_;  // the entries' whole names
};

// Runs `list` on a thread of its own and waits for it, calling midi::WhileWaiting meanwhile so
// that the window repaints: a sound server that is slow to answer holds up only the list.
// The backends bound how long a listing waits for its server.
std::vector<std::string> ListAside(const std::function<std::vector<std::string>()>& list);

}  // namespace ui
