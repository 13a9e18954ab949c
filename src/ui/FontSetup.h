#pragma once
// Reading the system's font configuration is a large share of a window's start: on Linux,
// fontconfig parses every one of its configuration files before the first font can be chosen.
// It runs on a thread of its own from the very start of the process, beside the application
// object's set-up and the port listing; the first font waits for it instead of doing it again.

namespace ui {

// Once, first thing in main. Where fonts need no such reading (Windows) it does nothing.
void StartReadingFontConfiguration();

// Before the first font is measured. Returns at once when nothing was started or it is done.
void WaitForFontConfiguration();

}  // namespace ui
