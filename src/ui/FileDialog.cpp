#include "ui/FileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>

namespace ui {

namespace {

class QtFileDialog : public FileDialog {
public:
    QtFileDialog(FileDialogSetup setup, QWidget* owner) : setup_(std::move(setup)), owner_(owner) {}

    bool Execute() override {
        QFileDialog dialog(owner_);
        // Qt's own dialog behaves alike everywhere: no overwrite question, no read-only box,
        // and the filter below is honoured as given.
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        if (setup_.kind == FileDialogSetup::Kind::Open) {
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
            dialog.setFileMode(QFileDialog::ExistingFile);
        } else {
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setFileMode(QFileDialog::AnyFile);
            dialog.setDefaultSuffix(setup_.defaultExtension);
        }
        QString patterns = setup_.patterns;
        patterns.replace(';', ' ');
        dialog.setNameFilter(setup_.description + " (" + patterns + ")");
        // Dump files come from Windows machines as often as not: ".SYX" is as good as ".syx".
        dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
        if (!lastPath_.isEmpty()) dialog.selectFile(lastPath_);
        QTimer::singleShot(0, &dialog, [&dialog, this] { PlaceOnOwnersMonitor(dialog); });
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
        lastPath_ = dialog.selectedFiles().front();
        return true;
    }

    // In the platform's own spelling: messages show a Windows user backslashes, not slashes.
    std::string FileName() const override { return QDir::toNativeSeparators(lastPath_).toStdString(); }

private:
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
};

}  // namespace

std::unique_ptr<FileDialog> MakeQtFileDialog(const FileDialogSetup& setup, QWidget* owner) {
    return std::make_unique<QtFileDialog>(setup, owner);
}

}  // namespace ui
