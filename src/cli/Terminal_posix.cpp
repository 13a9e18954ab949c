#include "cli/Terminal.h"

#include <unistd.h>

namespace cli {

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

// File names are bytes here, passed on as they are.
std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void PrepareConsole(StreamText, StreamText) {}

}  // namespace cli
