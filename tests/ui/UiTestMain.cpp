// One QApplication for all window tests, on Qt's offscreen platform (Windows' own under Wine),
// with the settings and the current folder in a place of the test's own, so no test touches the
// user's.

#include <QApplication>
#include <gtest/gtest.h>

#include <filesystem>

#include "StoredSettings.h"
#include "TempDir.h"
#include "ui/Notice.h"
#include "ui/Scaling.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", KELVANE_UI_TEST_PLATFORM);
    testsupport::TempDir home;
    const uitest::SettingsPlace settingsPlace(home.Path());
    std::filesystem::current_path(home.Path());
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(ui::ApplicationTitle));
    QApplication::setStyle(QStringLiteral("Fusion"));
    ui::InstallFontSubstitutions();
    const int result = RUN_ALL_TESTS();
    // Windows cannot remove the current folder.
    std::filesystem::current_path(home.Path().parent_path());
    return result;
}
