#include "ui/info/ApplicationIcon.h"

#include <QGuiApplication>

// A resource compiled into a static library is registered only when something names it;
// without this the linker drops it and every picture comes out empty.
static void RegisterPictures() { Q_INIT_RESOURCE(pictures); }

namespace ui {

QIcon ApplicationIcon() {
    RegisterPictures();
    return QIcon(QStringLiteral(":/kelvane/kelvane.png"));
}

void InstallApplicationIcon() {
    QGuiApplication::setWindowIcon(ApplicationIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("kelvane"));
}

}  // namespace ui
