#pragma once
// The application icon: one 48 x 48 picture in 16 colours (data/kelvane.png, drawn by
// data/make_pictures.py), compiled into the program; on Windows the program's icon resource
// (data/kelvane.ico, the same design at five sizes in 32-bit colour) where the program has it.

#include <QIcon>

namespace ui {

QIcon ApplicationIcon();

// Makes the icon that of every window of the application, and names the installed desktop
// entry (kelvane.desktop) so that task bars match the running program to it. Call once, after
// the application object exists and before the windows are built.
void InstallApplicationIcon();

}  // namespace ui
