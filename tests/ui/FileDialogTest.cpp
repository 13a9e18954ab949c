// The real Qt dialogs as the window sets them up: filters, default extension, no overwrite
// question, the first folder, the remembered path offered again, and Qt's texts in Japanese.

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

#include "TempDir.h"
#include "ui/FileDialog.h"
#include "ui/Translations.h"

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
        {ui::FileDialogSetup::Kind::Open, "SysEx File(*.EX *.SYX)", {}, {"Standard MIDI File(*.MID *.MIDI)"}}, nullptr);
    EXPECT_EQ(dialog->FileName(), "");

    WhenDialogShows([&](QFileDialog& d) {
        // The tests' current folder holds no dumps.
        EXPECT_EQ(d.directory(), QDir::home());
        EXPECT_EQ(d.nameFilters(), (QStringList{"SysEx File(*.EX *.SYX)", "Standard MIDI File(*.MID *.MIDI)"}));
        EXPECT_EQ(d.selectedNameFilter(), "SysEx File(*.EX *.SYX)");
        d.selectNameFilter("Standard MIDI File(*.MID *.MIDI)");
        EXPECT_FALSE(d.filter() & QDir::CaseSensitive);
        d.selectFile(QString::fromStdString(first));
        static_cast<QDialog&>(d).accept();  // QFileDialog checks the chosen name as the OK button does
    });
    ASSERT_TRUE(dialog->Execute());
    EXPECT_EQ(dialog->FileName(), first);

    WhenDialogShows([&](QFileDialog& d) {
        EXPECT_EQ(d.selectedFiles(), QStringList{QDir::fromNativeSeparators(QString::fromStdString(first))});
        EXPECT_EQ(d.selectedNameFilter(), "Standard MIDI File(*.MID *.MIDI)");
        d.reject();
    });
    EXPECT_FALSE(dialog->Execute());
    EXPECT_EQ(dialog->FileName(), first);

    // A name that does not exist is taken as it is; the loader then reports it.
    const std::string missing = dir.File("missing.syx").string();
    WhenDialogShows([&](QFileDialog& d) {
        d.selectFile(QString::fromStdString(missing));
        static_cast<QDialog&>(d).accept();
    });
    ASSERT_TRUE(dialog->Execute());
    EXPECT_EQ(dialog->FileName(), missing);
}

TEST(SaveDialog, AddsMidToABareNameAndAsksNothingAboutReplacing) {
    testsupport::TempDir dir;
    dir.Write("song.mid", {0x00});
    auto dialog = ui::MakeQtFileDialog({ui::FileDialogSetup::Kind::Save, "Standard MIDI File (*.mid)", "mid"}, nullptr);
    WhenDialogShows([&](QFileDialog& d) {
        EXPECT_EQ(d.nameFilters(), QStringList{"Standard MIDI File (*.mid)"});
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

struct FirstFolderCase {
    const char* what;
    std::vector<std::string> files;  // in the current folder; a trailing '/' makes a folder
    bool startsHere;
};

TEST(FileDialog, FirstFolderIsTheCurrentOneOnlyWhenItHoldsFilesOfTheFilter) {
    const FirstFolderCase cases[] = {
        {"empty", {}, false},
        {"a dump", {"bank.syx"}, true},
        {"upper case", {"BANK.EX"}, true},
        {"other files only", {"song.mid", "notes.txt", "syx"}, false},
        {"a folder named like a dump", {"old.syx/"}, false},
        {"a dump among others", {"song.mid", "a.Syx"}, true},
    };
    for (const auto& c : cases) {
        testsupport::TempDir current;
        for (const std::string& name : c.files) {
            if (name.back() == '/')
                std::filesystem::create_directory(current.File(name.substr(0, name.size() - 1)));
            else
                current.Write(name, {0xF0, 0xF7});
        }
        const QString here = QString::fromStdString(current.Path().string());
        EXPECT_EQ(ui::FirstFolder(here, "/home/user", {"*.ex", "*.syx"}), c.startsHere ? here : "/home/user")
            << c.what;
    }
}

// The dialogs and standard buttons are Qt's own; they speak Japanese like the rest of the window.
TEST(FileDialog, QtsOwnTextsAreJapanese) {
    ASSERT_TRUE(ui::InstallQtTranslations());
    auto dialog = ui::MakeQtFileDialog(
        {ui::FileDialogSetup::Kind::Open, "SysEx File(*.EX *.SYX)", {}}, nullptr);
    WhenDialogShows([](QFileDialog& d) {
        auto* lookIn = d.findChild<QLabel*>("lookInLabel");
        ASSERT_NE(lookIn, nullptr);
        EXPECT_EQ(lookIn->text(), QStringLiteral("アドレス:"));
        auto* buttons = d.findChild<QDialogButtonBox*>("buttonBox");
        ASSERT_NE(buttons, nullptr);
        EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("キャンセル"));
        d.reject();
    });
    EXPECT_FALSE(dialog->Execute());
}

}  // namespace
