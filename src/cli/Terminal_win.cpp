#include "cli/Terminal.h"

#include <io.h>
#include <stdio.h>

namespace cli {

bool StderrIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

}  // namespace cli
