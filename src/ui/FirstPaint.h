#pragma once
// Work that start-up puts off until the user sees the window.

#include <functional>

class QWidget;

namespace ui {

// Calls `then` once, on the GUI thread, after the first paint of `window` (any of its widgets)
// has been drawn and flushed.
void AfterFirstPaint(QWidget* window, std::function<void()> then);

}  // namespace ui
