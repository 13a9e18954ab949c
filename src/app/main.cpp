// Kelvane: the application object, its two windows, and the message loop.

#include <QApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "common/Version.h"
#include "midi/OutputService.h"
#include "midi/Port.h"
#include "ui/FirstPaint.h"
#include "ui/FontSetup.h"
#include "ui/Form1.h"
#include "ui/Placement.h"
#include "ui/Notice.h"
#include "ui/OpenRequest.h"
#include "ui/PortSelector.h"
#include "ui/Scaling.h"
#include "ui/Translations.h"
#include "ui/info/About.h"
#include "ui/info/ApplicationIcon.h"

namespace {

// Answered before anything else starts (no display, no sound server), so that a terminal, and
// help2man for the manual page, can ask.
constexpr char HelpText[] =
    "Usage: kelvane [FILE]\n"
    "\n"
    "Kelvane shows the MIDI System Exclusive messages of a dump and sends them to a MIDI\n"
    "output port (ALSA or JACK), one at a time or as a bank with a pause between messages\n"
    "and at a chosen share of a MIDI cable's rate. It records dumps from a MIDI input,\n"
    "optionally after sending a request, checks Roland and Yamaha checksums, opens raw\n"
    "dumps (.syx, .ex) and Standard MIDI Files, and saves all messages as a Standard MIDI\n"
    "File or a raw dump. The window's texts are Japanese.\n"
    "\n"
    "FILE, when given, is opened at start as File > Open would open it.\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "The chosen ports are kept in ~/.config/ZORVIK.reg when the program starts in a folder\n"
    "holding KELVANE.cfg (the menu entry starts it in /usr/share/kelvane). kelvane-cli offers\n"
    "the same on the command line.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "--version") == 0)) {
        std::fputs(std::strcmp(argv[1], "--help") == 0 ? HelpText : "kelvane " KELVANE_VERSION_TEXT "\n", stdout);
        return 0;
    }
    // Listing the ports (which may take a sound server's time) and reading the font
    // configuration run while the application object and the window are built; FormCreate
    // collects the one and the window's first font waits for the other. The listing starts
    // first: it has the longer way to go. Its sound-server client is closed only once the window
    // has been painted.
    midi::HoldListingCloses();
    midi::StartReadingPortEntries();
    ui::StartReadingFontConfiguration();
    QApplication app(argc, argv);
    // The title of the application (message boxes, task bar); the main window has its own.
    // Only the name is set, not the display name, so Qt appends nothing to window titles.
    QApplication::setApplicationName(QString::fromUtf8(ui::ApplicationTitle));
    QApplication::setStyle(QStringLiteral("Fusion"));
    ui::InstallQtTranslations();
    ui::InstallFontSubstitutions();
    ui::InstallApplicationIcon();

    // The About box, second of the two windows, stays in front of the main window, which owns
    // it. It is made when the Help menu first asks for it: made at start-up, its fonts and text
    // layout would cost the main window's first paint a sixth of its time, for a box few open.
    ui::FormSeams seams;
    seams.showAbout = [] {
        if (!ui::About) ui::About = new ui::TAbout(ui::Form1);
        ui::About->ShowModal();
    };
    ui::WaitForFontConfiguration();
    ui::TForm1 form(std::move(seams));
    ui::Form1 = &form;

    // Centred on the desktop at its first showing; afterwards it stays where the user puts it.
    form.adjustSize();
    ui::CentreOnDesktop(&form);
    form.show();
    form.activateWindow();
    form.cmbOutput->setFocus(Qt::ActiveWindowFocusReason);
    ui::AfterFirstPaint(&form, [] { midi::ReleaseListingCloses(); });
    // A dump named on the command line (a file manager's "open with") is opened once the loop
    // runs, so its notice or failure box comes up over the shown window.
    if (const auto file = ui::FileFromArguments(QApplication::arguments()))
        QTimer::singleShot(0, &form, ui::Guarded([&form, path = *file] { form.OpenDumpFile(path); }));
    const int code = QApplication::exec();
    // The port's thread may still be handing a message to the device. Give it a moment to finish
    // and close the device cleanly, but never keep a user who asked to quit waiting for long.
    midi::ReleaseListingCloses();
    midi::MidiOutHandle.reset();
    midi::WaitForClosedPorts(std::chrono::milliseconds(500));
    return code;
}
