#pragma once
// The open and save dialogs as the window uses them: run, then read the chosen path. Each
// remembers the last path accepted in it and offers it again; a cancelled run changes nothing.
// Neither insists that the chosen file exist: opening a missing one is the loader's failure.
// Tests script them through the same interface.

#include <QString>
#include <memory>
#include <string>

class QWidget;

namespace ui {

class FileDialog {
public:
    virtual ~FileDialog() = default;
    // Shows the dialog modally; true when the user confirmed a file.
    virtual bool Execute() = 0;
    // The full path of the file accepted last (UTF-8); empty before the first.
    virtual std::string FileName() const = 0;
};

struct FileDialogSetup {
    enum class Kind { Open, Save } kind;
    // The file-type box's one entry, shown as it is; its last parentheses hold the patterns,
    // separated by spaces and matched without regard to case: "Standard MIDI File (*.mid)".
    QString filter;
    QString defaultExtension;  // added to a name typed without one (save only)
};

std::unique_ptr<FileDialog> MakeQtFileDialog(const FileDialogSetup& setup, QWidget* owner);

}  // namespace ui
