#include "cli/Interrupt.h"

#include <csignal>

namespace cli {

namespace {

volatile std::sig_atomic_t interrupted = 0;
using Handler = void (*)(int);
Handler previousInt = SIG_DFL;
Handler previousTerm = SIG_DFL;

extern "C" void NoteInterrupt(int) { interrupted = 1; }

}  // namespace

InterruptCatcher::InterruptCatcher() {
    interrupted = 0;
    previousInt = std::signal(SIGINT, NoteInterrupt);
    previousTerm = std::signal(SIGTERM, NoteInterrupt);
}

InterruptCatcher::~InterruptCatcher() {
    std::signal(SIGINT, previousInt == SIG_ERR ? SIG_DFL : previousInt);
    std::signal(SIGTERM, previousTerm == SIG_ERR ? SIG_DFL : previousTerm);
}

bool InterruptCatcher::Requested() const { return interrupted != 0; }

}  // namespace cli
