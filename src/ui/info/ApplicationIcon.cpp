#include "ui/info/ApplicationIcon.h"

#include <QGuiApplication>

#ifdef Q_OS_WIN
#include <QImage>
#include <QPixmap>

#include <windows.h>
#endif

// A resource compiled into a static library is registered only when something names it;
// without this the linker drops it and every picture comes out empty.
static void RegisterPictures() { Q_INIT_RESOURCE(pictures); }

namespace ui {

QIcon ApplicationIcon() {
#ifdef Q_OS_WIN
    // The program's own icon resource, every size in 32-bit colour, as Explorer shows it: the task
    // bar and the title bar take the window's icon at their own sizes, and the 48-pixel picture
    // scaled down to 16 and 32 would be blurred.
    QIcon own;
    for (const int size : {16, 24, 32, 48, 256}) {
        const auto icon = static_cast<HICON>(
            ::LoadImageW(::GetModuleHandleW(nullptr), L"IDI_ICON1", IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
        if (icon == nullptr) continue;
        own.addPixmap(QPixmap::fromImage(QImage::fromHICON(icon)));
        ::DestroyIcon(icon);
    }
    if (!own.isNull()) return own;
#endif
    RegisterPictures();
    return QIcon(QStringLiteral(":/kelvane/kelvane.png"));
}

void InstallApplicationIcon() {
    QGuiApplication::setWindowIcon(ApplicationIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("kelvane"));
}

}  // namespace ui
