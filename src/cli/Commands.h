#pragma once
// kelvane-cli's commands over the core libraries: the window's list lines, information lines,
// SMF export and port entries, printed instead of shown. Each command loads what it needs into
// the process-wide store and port state, as the window would, so one run is one command.

#include <ostream>
#include <string>
#include <vector>

#include "cli/Terminal.h"

namespace cli {

inline constexpr int ExitDone = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;
// receive: the capture is saved, but the input lost data on the way in (or a message arrived
// damaged); what was lost is on stderr and in the JSON. send: everything went out, but some
// messages went while the port missed its sound server's cycles; they are named on stderr and
// in the JSON ("inDoubt"), to be sent again with --messages.
inline constexpr int ExitLost = 3;
// A send stopped by Ctrl+C (or SIGTERM) before it was done: 128 + SIGINT, as shells report it.
inline constexpr int ExitCancelled = 130;

// Runs the command the arguments (those after the program name) describe. Results go to
// `out`; failures, the loader's notice about dropped messages and (when `errIsTerminal`) the
// send progress go to `err`. Returns the exit status: 0, 1 with the failure's text (as written,
// without the full stop the window's failure box adds), or
// 2 with the reason and the usage line. Never throws.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal);

// How Run's text for these arguments reaches files and pipes on Windows (Terminal.h): the stream
// that carries a JSON document stays UTF-8, both do with --encoding utf-8, the rest is in the
// console's code page. Arguments that do not parse get the code page: a usage message follows.
struct StreamTexts {
    StreamText out = StreamText::CodePage;
    StreamText err = StreamText::CodePage;
};
StreamTexts StreamTextsFor(const std::vector<std::string>& args);

}  // namespace cli
