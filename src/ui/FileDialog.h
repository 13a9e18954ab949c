#pragma once
// The open and save dialogs as the window uses them: run, then read the chosen path. Each
// remembers the last path accepted in it and offers it again; a cancelled run changes nothing.
// Before the first path, a dialog starts in the current folder when that holds files of its
// filter, otherwise in the home folder. Neither insists that the chosen file exist: opening a
// missing one is the loader's failure. Tests script them through the same interface.

#include <QString>
#include <QStringList>
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
    // Remembers `pathUtf8` as if it had been accepted, for a file opened another way (the
    // command line, a drop), so the next Execute() offers it.
    virtual void SetFileName(const std::string& pathUtf8) = 0;
};

struct FileDialogSetup {
    enum class Kind { Open, Save } kind;
    // The file-type box's one entry, shown as it is; its last parentheses hold the patterns,
    // separated by spaces and matched without regard to case: "Standard MIDI File (*.mid)".
    QString filter;
    QString defaultExtension;  // added to a name typed without one (save only)
    // Further entries of the file-type box, after `filter`; the entry chosen last is offered again.
    QStringList moreFilters = {};
};

// The folder a dialog starts in before any path is remembered: `current` when it holds a file
// matching one of `patterns` (without regard to case), otherwise `home`.
QString FirstFolder(const QString& current, const QString& home, const QStringList& patterns);

std::unique_ptr<FileDialog> MakeQtFileDialog(const FileDialogSetup& setup, QWidget* owner);

}  // namespace ui
