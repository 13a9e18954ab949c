#pragma once
// Whether a person watches the error stream; progress lines are for people only.
// One implementation per platform (Terminal_posix.cpp, Terminal_win.cpp).

namespace cli {

bool StderrIsTerminal();

}  // namespace cli
