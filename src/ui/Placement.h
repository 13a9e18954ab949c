#pragma once
// Where a top-level window of ours sits and how large it is, also where no window manager looks
// after it.

class QWidget;

namespace ui {

// Centres the window's outer frame, title bar included, on the primary screen's free area, as
// Windows centres a form. A window manager tells the frame only once the window is up, so the
// window is centred again, once, when the frame becomes known.
void CentreOnDesktop(QWidget* window);

// Puts a fixed-size window back to its size whenever something outside resizes it: a window
// manager refuses such requests by itself, but without one another program's resize would stand.
void KeepFittedSize(QWidget* window);

}  // namespace ui
