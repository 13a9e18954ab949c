#pragma once
// The window's Edit menu and the list's context menu: the keys and menu items that edit the
// store (sysex/StoreEdit.h) through one undo history (sysex/EditHistory.h). Each command reads
// the list's selection, makes one store edit, shows the list anew from the store and selects
// what the edit touched. The information pane follows the new current message; nothing is sent
// (the user sends by choosing a line, as before). GUI thread only.

#include <QObject>
#include <functional>
#include <string>

#include "sysex/EditHistory.h"

class QAction;
class QMenu;
class QWidget;

namespace ui {

class FileDialog;
class MessageList;

// What the commands need from the window.
struct EditSetup {
    QWidget* window = nullptr;       // owner of the dialogs
    double scale = 1.0;              // the window's layout scale
    MessageList* list = nullptr;
    FileDialog* openDialog = nullptr;  // chooses a file to insert, as it chooses one to open
    std::function<void()> relist;      // shows the store's messages in the list afresh
    std::function<void(int)> showInfo; // the pane for message k; -1 empties it
};

class EditActions : public QObject {
public:
    explicit EditActions(EditSetup setup);

    QAction* Undo = nullptr;
    QAction* Redo = nullptr;
    QAction* Delete = nullptr;
    QAction* MoveUp = nullptr;
    QAction* MoveDown = nullptr;
    QAction* Copy = nullptr;
    QAction* Paste = nullptr;
    QAction* SelectAll = nullptr;
    QAction* InsertFile = nullptr;
    QAction* EditHex = nullptr;

    // Fills the Edit menu (and, with the same actions, the list's context menu).
    void Fill(QMenu* menu);

    void UndoClick();
    void RedoClick();
    void DeleteClick();
    void MoveUpClick();
    void MoveDownClick();
    void CopyClick();
    void PasteClick();
    void InsertFileClick();
    void EditHexClick();
    void SelectAllClick();
    // Inserts the messages of a dump, SMF or RMID file after the current message (at the end
    // when there is none): a file dropped with Ctrl held, or pasted from a file manager.
    void InsertFileMessages(const std::string& pathUtf8);
    // The selected messages dropped before message `before`.
    void MoveBefore(int before);

    // Whether the store differs from what was loaded, received or saved last.
    bool Modified() const { return history_.Modified(); }
    // The store now holds a file's messages (load, reception): the steps before are forgotten.
    void Forget();
    void MarkSaved() { history_.MarkSaved(); }

    // Makes each action available as the list and the history allow.
    void UpdateActions();

private:
    void CreateActions();
    // Runs an edit through the history, shows the store anew, then `select`s what it touched.
    void Edited(const std::function<sysex::StoreEdit(sysex::StoreEditor&)>& edit, const std::function<void()>& select);
    void SelectAfter(const sysex::StoreEdit& applied);
    void Show(const sysex::MessageNumbers& rows, int current);
    // Where pasted or inserted messages go: after the current one, or at the end.
    std::int32_t InsertionPoint() const;
    void InsertMessages(const sysex::MessageList& messages);

    EditSetup setup_;
    sysex::EditHistory history_;
};

}  // namespace ui
