#pragma once
// What differs between platforms at the program's edge. One implementation per platform
// (Terminal_posix.cpp, Terminal_win.cpp).

#include <string>
#include <vector>

namespace cli {

// Whether a person watches the error stream; progress lines are for people only.
bool StderrIsTerminal();

// The arguments after the program name, in UTF-8. On Windows they are read in UTF-16 from the
// command line itself: argv holds them in the ANSI code page, which cannot carry every file name.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Makes a console show the UTF-8 text of std::cout and std::cerr as text (Windows), leaving the
// console's code page as it was; nothing to do elsewhere.
void PrepareConsole();

}  // namespace cli
