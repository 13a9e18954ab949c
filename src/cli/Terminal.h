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

// How the UTF-8 text of a standard stream reaches a file or a pipe on Windows.
enum class StreamText {
    CodePage,  // in the console's output code page (the ANSI code page without a console), as
               // the shell's own commands (type, more, find) read it; "?" for what it cannot hold
    Utf8,      // as written: JSON, and scripts that ask for it (--encoding utf-8)
};

// Makes std::cout and std::cerr reach people as text on Windows: on a console in UTF-16, which it
// shows whatever its code page, leaving that page as it was; to a file or a pipe as `out` and
// `err` say. Nothing to do elsewhere, where text is UTF-8 throughout.
void PrepareConsole(StreamText out, StreamText err);

}  // namespace cli
