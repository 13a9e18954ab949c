#include "cli/Terminal.h"

#include <unistd.h>

namespace cli {

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace cli
