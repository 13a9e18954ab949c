// The real Qt dialogs as the window sets them up: filters, default extension, no overwrite
// question, and the remembered path offered again.

#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

#include "TempDir.h"
#include "ui/FileDialog.h"

namespace {

// Runs `answer` on the dialog once it is up.
void WhenDialogShows(std::function<void(QFileDialog&)> answer) {
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        answer(*dialog);
    });
}

TEST(OpenDialog, OffersTheLastAcceptedFileAgainAndCancelKeepsIt) {
    testsupport::TempDir dir;
    const std::string first = dir.Write("First.SYX", {0xF0, 0xF7});
    auto dialog = ui::MakeQtFileDialog(
        {ui::FileDialogSetup::Kind::Open, "SysEx File(*.EX *.SYX)", "*.ex;*.syx", {}}, nullptr);
    EXPECT_EQ(dialog->FileName(), "");

    WhenDialogShows([&](QFileDialog& d) {
        EXPECT_EQ(d.nameFilters(), QStringList{"SysEx File(*.EX *.SYX) (*.ex *.syx)"});
        EXPECT_FALSE(d.filter() & QDir::CaseSensitive);
        EXPECT_EQ(d.fileMode(), QFileDialog::ExistingFile);
        d.selectFile(QString::fromStdString(first));
        static_cast<QDialog&>(d).accept();  // QFileDialog checks the chosen name as the OK button does
    });
    ASSERT_TRUE(dialog->Execute());
    EXPECT_EQ(dialog->FileName(), first);

    WhenDialogShows([&](QFileDialog& d) {
        EXPECT_EQ(d.selectedFiles(), QStringList{QDir::fromNativeSeparators(QString::fromStdString(first))});
        d.reject();
    });
    EXPECT_FALSE(dialog->Execute());
    EXPECT_EQ(dialog->FileName(), first);
}

TEST(SaveDialog, AddsMidToABareNameAndAsksNothingAboutReplacing) {
    testsupport::TempDir dir;
    dir.Write("song.mid", {0x00});
    auto dialog = ui::MakeQtFileDialog(
        {ui::FileDialogSetup::Kind::Save, "Standard MIDI File (*.mid)", "*.mid", "mid"}, nullptr);
    WhenDialogShows([&](QFileDialog& d) {
        EXPECT_EQ(d.nameFilters(), QStringList{"Standard MIDI File (*.mid) (*.mid)"});
        EXPECT_EQ(d.defaultSuffix(), "mid");
        EXPECT_TRUE(d.testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_EQ(d.acceptMode(), QFileDialog::AcceptSave);
        d.setDirectory(QString::fromStdString(dir.Path().string()));
        d.selectFile("song");
        static_cast<QDialog&>(d).accept();  // QFileDialog checks the chosen name as the OK button does
    });
    ASSERT_TRUE(dialog->Execute());
    EXPECT_EQ(dialog->FileName(), dir.File("song.mid").string());
}

}  // namespace
