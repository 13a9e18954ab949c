// One QApplication for all window tests, on Qt's offscreen platform, with the settings file and
// the current folder in a temporary place so no test touches the user's own.

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "TempDir.h"
#include "ui/Notice.h"
#include "ui/Scaling.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testsupport::TempDir home;
    setenv("XDG_CONFIG_HOME", home.Path().c_str(), 1);
    std::filesystem::current_path(home.Path());
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(ui::ApplicationTitle));
    QApplication::setStyle(QStringLiteral("Fusion"));
    ui::InstallFontSubstitutions();
    return RUN_ALL_TESTS();
}
