// The About box as a user meets it: opened from the Help menu over a main window that then takes
// no input, closed only by OK, Enter, Space, the close box or Alt+F4, reopened where it was
// left; its texts, layout and pictures; the application icon.

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "FormFixture.h"  // ScriptedDialog, Recorder
#include "TempDir.h"
#include "midi/Port.h"
#include "settings/Settings.h"
#include "sysex/Store.h"
#include "ui/Bevel.h"
#include "ui/info/About.h"
#include "ui/info/ApplicationIcon.h"

namespace {

// Images compared pixel by pixel, premultiplied so that every fully transparent pixel is equal
// whatever colour it hides. Returns the number of pixels that differ (all of them if the sizes do).
int DifferingPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return std::max(a.width() * a.height(), b.width() * b.height());
    const QImage pa = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage pb = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    int differing = 0;
    for (int y = 0; y < pa.height(); ++y)
        for (int x = 0; x < pa.width(); ++x) differing += pa.pixel(x, y) != pb.pixel(x, y);
    return differing;
}

// The real main window with scripted dialogs, whose Help menu shows a real About box.
class AboutBox : public ::testing::Test {
protected:
    void SetUp() override {
        sysex::ResetStoreForTests();
        settings::ResetSettingsForTests();
        midi::ResetPortStateForTests();
        ui::SetMessageDisplay(&recorder);
        ui::FormSeams seams;
        seams.makeFileDialog = [this](const ui::FileDialogSetup& setup, QWidget*) {
            auto dialog = std::make_unique<uitest::ScriptedDialog>();
            (setup.kind == ui::FileDialogSetup::Kind::Open ? open : save) = dialog.get();
            return std::unique_ptr<ui::FileDialog>(std::move(dialog));
        };
        seams.showAbout = [this] { about->ShowModal(); };
        form = std::make_unique<ui::TForm1>(std::move(seams));
        about = std::make_unique<ui::TAbout>(form.get());
    }
    void TearDown() override {
        about.reset();
        form.reset();
        ui::SetMessageDisplay(nullptr);
        midi::ResetPortStateForTests();
    }

    void ShowMainWindow() {
        form->show();
        form->activateWindow();
        QApplication::setActiveWindow(form.get());
        form->cmbOutput->setFocus(Qt::ActiveWindowFocusReason);
        QApplication::processEvents();
    }

    // Shows the box modally and runs `whileOpen` inside its loop. Returns whether the box was
    // still open afterwards; a box left open is then closed so the test can go on.
    bool StillOpenAfter(const std::function<void()>& whileOpen) {
        bool stillOpen = false;
        QTimer::singleShot(0, [&] {
            EXPECT_EQ(QApplication::activeModalWidget(), about.get());
            QApplication::processEvents();
            whileOpen();
            QApplication::processEvents();
            stillOpen = about->isVisible();
            if (stillOpen) about->done(QDialog::Rejected);
        });
        about->ShowModal();
        EXPECT_FALSE(about->isVisible());
        return stillOpen;
    }

    void Press(QKeyCombination key) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : about.get();
        QTest::keyClick(target, key.key(), key.keyboardModifiers());
    }

    testsupport::TempDir dir;
    uitest::Recorder recorder;
    uitest::ScriptedDialog* open = nullptr;
    uitest::ScriptedDialog* save = nullptr;
    std::unique_ptr<ui::TForm1> form;
    std::unique_ptr<ui::TAbout> about;
};

TEST_F(AboutBox, HelpMenuOpensItModallyAndTheMainWindowTakesNoInputMeanwhile) {
    ShowMainWindow();
    open->answers = {dir.Write("one.syx", {0xF0, 0xF7})};
    bool quitSeen = false;
    auto quitConnection = QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { quitSeen = true; });

    bool seenOpen = false;
    QTimer::singleShot(0, [&] {
        seenOpen = about->isVisible();
        QApplication::processEvents();
        EXPECT_EQ(QApplication::activeModalWidget(), about.get());
        EXPECT_EQ(about->windowModality(), Qt::ApplicationModal);
        EXPECT_EQ(QApplication::activeWindow(), about.get());
        EXPECT_EQ(QApplication::focusWidget(), about->OKBtn);
        for (auto key : {Qt::CTRL | Qt::Key_O, Qt::CTRL | Qt::Key_S, QKeyCombination(Qt::Key_F10), Qt::ALT | Qt::Key_H}) {
            QTest::keyClick(about.get(), key.key(), key.keyboardModifiers());
            QTest::keyClick(form.get(), key.key(), key.keyboardModifiers());
            QTest::keyClick(form->cmbOutput, key.key(), key.keyboardModifiers());
        }
        QApplication::processEvents();
        EXPECT_TRUE(about->isVisible());
        EXPECT_EQ(form->menuBar()->activeAction(), nullptr);  // Alt+H opened no menu
        about->OKBtn->click();
    });
    form->About1->trigger();  // returns only once the box is closed
    QObject::disconnect(quitConnection);

    EXPECT_TRUE(seenOpen);
    EXPECT_FALSE(about->isVisible());
    EXPECT_EQ(open->executed, 0);
    EXPECT_EQ(save->executed, 0);
    EXPECT_TRUE(recorder.notices.isEmpty());
    EXPECT_FALSE(quitSeen);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // Closed, the box hands the keyboard back and the shortcuts work again.
    QApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), form.get());
    QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(open->executed, 1);
}

TEST_F(AboutBox, ClosedOnlyByOkEnterSpaceCloseBoxAndAltF4) {
    ShowMainWindow();
    struct Case {
        const char* how;
        std::function<void()> act;
        bool closes;
    };
    const Case cases[] = {
        {"OK clicked", [&] { QTest::mouseClick(about->OKBtn, Qt::LeftButton); }, true},
        {"Return", [&] { Press(Qt::Key_Return); }, true},
        {"keypad Enter", [&] { Press(Qt::KeypadModifier | Qt::Key_Enter); }, true},
        {"Space on OK", [&] { Press(Qt::Key_Space); }, true},
        {"close box", [&] { about->close(); }, true},
        {"Alt+F4", [&] { Press(Qt::ALT | Qt::Key_F4); }, true},
        {"Esc", [&] { Press(Qt::Key_Escape); }, false},
        {"Tab, then Esc", [&] { Press(Qt::Key_Tab); Press(Qt::Key_Escape); }, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StillOpenAfter(c.act), !c.closes) << c.how;
        // Hidden, never destroyed: the same box serves the next showing.
        EXPECT_FALSE(about->testAttribute(Qt::WA_DeleteOnClose)) << c.how;
    }
}

TEST_F(AboutBox, FirstShowingIsCentredAndLaterOnesOpenWhereItWasLeft) {
    const QRect desktop = QGuiApplication::primaryScreen()->availableGeometry();
    QPoint firstCentre;
    StillOpenAfter([&] {
        firstCentre = about->frameGeometry().center();
        about->move(desktop.topLeft() + QPoint(37, 29));
    });
    EXPECT_LE((firstCentre - desktop.center()).manhattanLength(), 1)
        << firstCentre.x() << "," << firstCentre.y() << " against " << desktop.center().x() << "," << desktop.center().y();

    StillOpenAfter([&] { EXPECT_EQ(about->pos(), desktop.topLeft() + QPoint(37, 29)); });
    // Left where it was this time: not moved back to the centre either.
    StillOpenAfter([&] { EXPECT_EQ(about->pos(), desktop.topLeft() + QPoint(37, 29)); });
}

TEST_F(AboutBox, WindowAndTexts) {
    EXPECT_EQ(about->windowTitle(), QStringLiteral("バージョン情報"));
    // Set while the box was built, before it was ever shown.
    EXPECT_EQ(about->ver->text(), QStringLiteral("lite version 0.94"));
    EXPECT_EQ(about->Label1->text(), QStringLiteral("Kelvane"));
    EXPECT_EQ(about->Label2->text(), QStringLiteral("Copyright (C) Kelvane Limited 無断転載禁止"));
    EXPECT_EQ(about->Label3->text(), QStringLiteral("Homepage: https://www.kelvane.example/"));
    EXPECT_EQ(about->Label4->text(), QStringLiteral("E-mail: support@kelvane.example"));
    EXPECT_EQ(about->OKBtn->text(), QStringLiteral("OK"));
    EXPECT_TRUE(about->OKBtn->isDefault());

    const Qt::WindowFlags flags = about->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
    EXPECT_FALSE(about->isVisible());
    // On the 96-dpi test screen the box takes the layout's own size, as the main window does.
    EXPECT_DOUBLE_EQ(about->LayoutScaleFactor(), form->LayoutScaleFactor());
    EXPECT_DOUBLE_EQ(about->LayoutScaleFactor(), 1.0);
    EXPECT_EQ(about->size(), QSize(291, 140));
}

TEST_F(AboutBox, ControlsSitWhereTheLayoutPutsThemAtEachScale) {
    struct Case {
        double scale;
        QSize client;
        QRect okBtn, panel, image;
        QPoint label1, ver, label2, label3, label4;
        int titlePixels, boxPixels;
    };
    const Case cases[] = {
        {1.0, {291, 140}, {0, 121, 289, 19}, {0, 0, 291, 121}, {5, 5, 62, 60},
         {69, 13}, {172, 49}, {4, 68}, {6, 81}, {5, 94}, 27, 12},
        // Half-pixels round up, as the platform's own scaling does.
        {1.5, {437, 210}, {0, 182, 434, 29}, {0, 0, 437, 182}, {8, 8, 93, 90},
         {104, 20}, {258, 74}, {6, 102}, {9, 122}, {8, 141}, 41, 18},
    };
    for (const Case& c : cases) {
        ui::TAbout box(nullptr, c.scale);
        EXPECT_DOUBLE_EQ(box.LayoutScaleFactor(), c.scale);
        box.show();
        QApplication::processEvents();
        EXPECT_EQ(box.size(), c.client) << c.scale;
        EXPECT_EQ(box.OKBtn->geometry(), c.okBtn) << c.scale;
        EXPECT_EQ(box.Panel1->geometry(), c.panel) << c.scale;
        EXPECT_EQ(box.Image2->geometry(), c.image) << c.scale;
        EXPECT_EQ(box.Label1->pos(), c.label1) << c.scale;
        EXPECT_EQ(box.ver->pos(), c.ver) << c.scale;
        EXPECT_EQ(box.Label2->pos(), c.label2) << c.scale;
        EXPECT_EQ(box.Label3->pos(), c.label3) << c.scale;
        EXPECT_EQ(box.Label4->pos(), c.label4) << c.scale;
        EXPECT_EQ(box.Label1->font().pixelSize(), c.titlePixels) << c.scale;
        EXPECT_EQ(box.font().pixelSize(), c.boxPixels) << c.scale;
        // A fixed frame: a resize is refused.
        box.resize(c.client + QSize(50, 30));
        QApplication::processEvents();
        EXPECT_EQ(box.size(), c.client) << c.scale;
        // Every label lies inside the panel, within its edge, whatever its text measures.
        for (const QLabel* label : {box.Label1, box.ver, box.Label2, box.Label3, box.Label4})
            EXPECT_TRUE(box.Panel1->rect().adjusted(4, 4, -4, -4).contains(label->geometry()))
                << c.scale << " " << label->text().toStdString() << " is " << label->width() << " x " << label->height();
    }
}

TEST_F(AboutBox, FontsOfTheLayout) {
    struct Case {
        const QLabel* label;
        QString family;
        int pixels;
        bool bold;
    };
    const Case cases[] = {
        {about->Label1, "Comic Sans MS", 27, true},
        {about->ver, "Arial", 13, true},
        {about->Label2, "ＭＳ Ｐゴシック", 12, true},
        {about->Label3, "Arial", 12, false},
        {about->Label4, "Arial", 13, false},
    };
    // The layout's family, or the stand-in the machine has for it.
    const auto isLayoutFamily = [](const QFont& font, const QString& family) {
        const QStringList names = QStringList{family} + QFont::substitutes(family);
        return names.contains(font.family(), Qt::CaseInsensitive);
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(isLayoutFamily(c.label->font(), c.family)) << c.label->text().toStdString() << " in " << c.label->font().family().toStdString();
        EXPECT_EQ(c.label->font().pixelSize(), c.pixels) << c.label->text().toStdString();
        EXPECT_EQ(c.label->font().bold(), c.bold) << c.label->text().toStdString();
    }
    EXPECT_TRUE(isLayoutFamily(about->OKBtn->font(), QStringLiteral("ＭＳ Ｐゴシック")));
    EXPECT_EQ(about->Label3->palette().color(QPalette::WindowText), QColor(Qt::black));
}

TEST_F(AboutBox, PanelIsWhiteInsideALoweredEdgeAndARaisedOne) {
    about->show();
    QApplication::processEvents();
    const QImage panel = about->Panel1->grab().toImage();
    const QPalette pal = about->Panel1->palette();
    const QRgb shadow = pal.color(QPalette::Dark).rgb(), light = pal.color(QPalette::Light).rgb();
    const QRgb white = QColor(Qt::white).rgb();
    const int r = panel.width() - 1, b = panel.height() - 1;
    struct Pixel {
        int x, y;
        QRgb expected;
    };
    const Pixel pixels[] = {
        {0, 0, shadow}, {0, 60, shadow}, {150, 0, shadow},      // outer edge, lowered: dark top left
        {r, 60, light}, {150, b, light}, {r, b, light},         // and light bottom right
        {1, 60, white}, {2, 60, white}, {150, b - 2, white},  // two pixels of white
        {3, 60, light}, {150, 3, light},                        // inner edge, raised: light top left
        {r - 3, 60, shadow}, {150, b - 3, shadow},              // and dark bottom right
        {r - 5, 5, white}, {150, 116, white},           // the panel's own white
    };
    for (const Pixel& p : pixels)
        EXPECT_EQ(panel.pixel(p.x, p.y), p.expected) << p.x << "," << p.y;
}

TEST_F(AboutBox, LogoIsA76PixelTrueColourPictureStretchedTo62By60) {
    const QImage logo(QStringLiteral(":/kelvane/logo.bmp"));
    ASSERT_FALSE(logo.isNull());
    EXPECT_EQ(logo.size(), QSize(76, 76));
    EXPECT_FALSE(logo.hasAlphaChannel());
    EXPECT_EQ(logo.format(), QImage::Format_RGB32);
    EXPECT_EQ(about->Image2->pixmap().size(), QSize(76, 76));
    EXPECT_TRUE(about->Image2->hasScaledContents());

    about->show();
    QApplication::processEvents();
    const QImage shown = about->Image2->grab().toImage();
    ASSERT_EQ(shown.size(), QSize(62, 60));
    // Corners are the panel's white; the middle is the socket's dark face, as in the picture.
    EXPECT_EQ(shown.pixelColor(0, 0), QColor(Qt::white));
    EXPECT_EQ(logo.pixelColor(0, 0), QColor(Qt::white));
    EXPECT_EQ(shown.pixelColor(31, 30), logo.pixelColor(38, 38));
}

TEST_F(AboutBox, BothWindowsCarryThe48PixelSixteenColourIcon) {
    const QImage picture(QStringLiteral(":/kelvane/kelvane.png"));
    ASSERT_EQ(picture.size(), QSize(48, 48));
    EXPECT_EQ(picture.format(), QImage::Format_Indexed8);
    EXPECT_EQ(picture.colorCount(), 16);

    ui::InstallApplicationIcon();
    for (const QWidget* window : {static_cast<const QWidget*>(form.get()), static_cast<const QWidget*>(about.get())}) {
        const QIcon icon = window->windowIcon();
        ASSERT_EQ(icon.availableSizes(), QList<QSize>{QSize(48, 48)}) << window->windowTitle().toStdString();
        EXPECT_EQ(DifferingPixels(icon.pixmap(48, 48).toImage(), picture), 0) << window->windowTitle().toStdString();
    }
    EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("kelvane"));
}

}  // namespace
