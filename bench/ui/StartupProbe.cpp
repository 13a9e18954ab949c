// Start-up to the first paint, for the real program (the main window as src/app builds it; the
// About box is made only when first asked for) or for a bare QMainWindow with a menu bar
// (KELVANE_BARE=1), both in the program's style. The probe ends without tidying up as soon as
// the window's first paint has been flushed, and prints the time from its launch to then;
// startup.sh times runs of both side by side:
//
//   bench/ui/startup.sh build/bench/ui/startup_probe

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

#include "midi/OutputService.h"
#include "midi/Port.h"
#include "ui/FirstPaint.h"
#include "ui/FontSetup.h"
#include "ui/Form1.h"
#include "ui/Notice.h"
#include "ui/Placement.h"
#include "ui/PortSelector.h"
#include "ui/Scaling.h"
#include "ui/Translations.h"
#include "ui/info/ApplicationIcon.h"

namespace {

// Milliseconds since KELVANE_PROBE_LAUNCHED (the launcher's wall clock in seconds, as bash's
// EPOCHREALTIME gives it, taken as it starts the probe); -1 without it.
double SinceLaunch() {
    const char* launched = std::getenv("KELVANE_PROBE_LAUNCHED");
    if (!launched) return -1;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return (static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9 - std::strtod(launched, nullptr)) * 1000.0;
}

QMainWindow* BareWindow() {
    auto* window = new QMainWindow;
    QMenu* file = window->menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    file->addAction(QStringLiteral("データを開く(&O)"));
    file->addAction(QStringLiteral("終了(&X)"));
    window->menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"))->addAction(QStringLiteral("バージョン情報(&A)"));
    window->setCentralWidget(new QWidget);
    window->resize(328, 200);
    return window;
}

// Once the window's first paint is out: prints the time from launch to then and ends the process
// without tidying up, as the end of a process (unmapping, closing) is no part of start-up. The
// port listing's JACK client is let go and waited for first: cut off, it would leave its
// mutexes in libjack's shared metadata store, which runs out of them after some thousand such
// starts (and then no JACK client of this user opens).
void ReportAndEnd() {
    const double ms = SinceLaunch();
    midi::ReleaseListingCloses();
    midi::WaitForClosedPorts(std::chrono::seconds(5));
    std::printf("%.1f\n", ms);
    std::fflush(stdout);
    _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    const bool bare = std::getenv("KELVANE_BARE") != nullptr;
    if (!bare) {
        midi::HoldListingCloses();
        midi::StartReadingPortEntries();
        ui::StartReadingFontConfiguration();
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(ui::ApplicationTitle));
    QApplication::setStyle(QStringLiteral("Fusion"));
    if (bare) {
        QMainWindow* shown = BareWindow();
        ui::AfterFirstPaint(shown, ReportAndEnd);
        shown->show();
        return QApplication::exec();
    }
    // What src/app does before its loop.
    ui::InstallQtTranslations();
    ui::InstallFontSubstitutions();
    ui::InstallApplicationIcon();
    ui::WaitForFontConfiguration();
    auto* form = new ui::TForm1;
    form->adjustSize();
    ui::CentreOnDesktop(form);
    form->show();
    form->activateWindow();
    form->cmbOutput->setFocus(Qt::ActiveWindowFocusReason);
    ui::AfterFirstPaint(form, ReportAndEnd);
    return QApplication::exec();
}
