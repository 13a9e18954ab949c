#include "ui/FileDialog.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "ui/OpenRequest.h"

namespace ui {

namespace {

// The patterns of a filter entry: what its last parentheses hold, separated by spaces.
QStringList FilterPatterns(const QString& filter) {
    const qsizetype open = filter.lastIndexOf(u'(');
    const qsizetype close = filter.lastIndexOf(u')');
    if (open < 0 || close < open) return {};
    return filter.mid(open + 1, close - open - 1).split(u' ', Qt::SkipEmptyParts);
}

class QtFileDialog : public FileDialog {
public:
    QtFileDialog(FileDialogSetup setup, QWidget* owner) : setup_(std::move(setup)), owner_(owner) {}

    bool Execute() override {
        const bool accepted = Run();
        ActivateOwnerAgain();
        return accepted;
    }

    // In the platform's own spelling: messages show a Windows user backslashes, not slashes.
    std::string FileName() const override { return NativePath(lastPath_); }

    void SetFileName(const std::string& pathUtf8) override { lastPath_ = QString::fromStdString(pathUtf8); }

private:
    bool Run() {
        QFileDialog dialog(owner_);
        // Qt's own dialog behaves alike everywhere: no overwrite question, no read-only box,
        // and the filter below is honoured as given.
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        // Any name is accepted, also in the open dialog: Qt's own "file not found" box would
        // stand in for the loader's failure, and in English.
        dialog.setFileMode(QFileDialog::AnyFile);
        if (setup_.kind == FileDialogSetup::Kind::Open) {
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
        } else {
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setDefaultSuffix(setup_.defaultExtension);
        }
        dialog.setNameFilters(QStringList{setup_.filter} + setup_.moreFilters);
        if (!lastFilter_.isEmpty()) dialog.selectNameFilter(lastFilter_);
        // Dump files come from Windows machines as often as not: ".SYX" is as good as ".syx".
        dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
        if (lastPath_.isEmpty())
            dialog.setDirectory(FirstFolder(QDir::currentPath(), QDir::homePath(), FilterPatterns(setup_.filter)));
        else
            dialog.selectFile(lastPath_);
        QTimer::singleShot(0, &dialog, [&dialog, this] { PlaceOnOwnersMonitor(dialog); });
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
        lastPath_ = dialog.selectedFiles().front();
        lastFilter_ = dialog.selectedNameFilter();
        return true;
    }

    // Return in the file name field accepts the dialog while the field's completion list, a
    // popup, may still be open. The system then gives the owner back its activation, but Qt's
    // widgets ignore an activation that comes while a popup is open and are not told again once
    // the popup has gone with the dialog: the window is active, yet its widgets keep drawing
    // themselves as in an inactive one (on Windows the menu bar stays greyed until each item is
    // hovered).
    void ActivateOwnerAgain() const {
        if (!owner_) return;
        QWidget* window = owner_->window();
        const QWindow* handle = window->windowHandle();
        if (QApplication::activeWindow() == nullptr && handle && handle == QGuiApplication::focusWindow())
            QApplication::setActiveWindow(window);
    }

    // Horizontally centred on the owner's monitor, a third of the way down the free height.
    void PlaceOnOwnersMonitor(QFileDialog& dialog) const {
        const QScreen* screen = owner_ && owner_->screen() ? owner_->screen() : QGuiApplication::primaryScreen();
        if (!screen) return;
        const QRect area = screen->geometry();
        const QSize size = dialog.frameGeometry().size();
        dialog.move(area.left() + (area.width() - size.width()) / 2,
                    area.top() + (area.height() - size.height()) / 3);
    }

    FileDialogSetup setup_;
    QWidget* owner_;
    QString lastPath_;
    QString lastFilter_;
};

}  // namespace

QString FirstFolder(const QString& current, const QString& home, const QStringList& patterns) {
    // Started from a shell in a folder of dumps, the user wants them; started from a menu, the
    // current folder is the program's own and of no interest.
    QDir dir(current);
    dir.setNameFilters(patterns);
    // Without QDir::CaseSensitive the patterns match ".SYX" as well as ".syx", as the dialog does.
    return dir.isEmpty(QDir::Files) ? home : current;
}

std::unique_ptr<FileDialog> MakeQtFileDialog(const FileDialogSetup& setup, QWidget* owner) {
    return std::make_unique<QtFileDialog>(setup, owner);
}

}  // namespace ui
