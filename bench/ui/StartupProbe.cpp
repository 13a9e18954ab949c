// Start-up to the first shown window, for the real main window or a bare Qt window
// (KELVANE_BARE=1). The program ends as soon as the window has been exposed; time whole runs:
//
//   bench/ui/startup.sh build/bench/ui/startup_probe

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdlib>

#include "ui/Form1.h"
#include "ui/Notice.h"
#include "ui/Scaling.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(ui::ApplicationTitle));
    QWidget* shown = nullptr;
    if (std::getenv("KELVANE_BARE")) {
        shown = new QWidget;
        shown->resize(328, 200);
    } else {
        QApplication::setStyle(QStringLiteral("Fusion"));
        ui::InstallFontSubstitutions();
        shown = new ui::TForm1;
    }
    shown->show();
    // Posted after the show: runs once the first expose and paint have been handled.
    QTimer::singleShot(0, &app, [] { QApplication::quit(); });
    const int code = QApplication::exec();
    delete shown;
    return code;
}
