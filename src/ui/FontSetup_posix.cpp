#include "ui/FontSetup.h"

#include <fontconfig/fontconfig.h>

#include <system_error>
#include <thread>

namespace ui {

namespace {

// Never destroyed: a process that ends before the window is made (no display, say) must not
// be ended by a thread object that was never joined.
std::thread& Reader() {
    static auto* reader = new std::thread;
    return *reader;
}

}  // namespace

void StartReadingFontConfiguration() {
    if (Reader().joinable()) return;
    try {
        // FcInit is safe to meet from two threads: the loser of the race throws its copy away.
        // So when no thread can be had, Qt simply reads the configuration itself.
        Reader() = std::thread([] { FcInit(); });
    } catch (const std::system_error&) {
    }
}

void WaitForFontConfiguration() {
    if (Reader().joinable()) Reader().join();
}

}  // namespace ui
