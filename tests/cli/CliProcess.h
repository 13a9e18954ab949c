#pragma once
// Runs the real kelvane-cli as a child process: its standard output and error go to files
// (or the error stream to a pseudo-terminal), and the test reads them and the exit status.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "TempDir.h"

namespace clitest {

struct CliResult {
    int exitCode = -1;  // -1 when the child did not exit normally (a crash)
    std::string out;
    std::string err;
};

// Extra or replaced environment variables for the child; everything else is inherited.
using Environment = std::map<std::string, std::string>;

struct CliOptions {
    Environment environment;
    bool errOnTerminal = false;  // stderr is a pseudo-terminal (its text then has "\r\n")
    std::string outPath;         // stdout goes to this file instead (then out stays empty)
    int outDescriptor = -1;      // stdout is a copy of this descriptor instead (a pipe's end, say)
};

class CliProcess {
public:
    // Starts kelvane-cli with `args`.
    explicit CliProcess(const std::vector<std::string>& args, const CliOptions& options = {});
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Waits for the end and returns what the program printed and its exit status.
    CliResult Wait();

    // Sends a signal to the running program (SIGINT as Ctrl+C would).
    void Signal(int signal) const;

    // Whether the program's terminal has shown `text` within `bound`: how a test knows what the
    // program has seen, rather than sleeping and hoping it has. Only with errOnTerminal.
    bool Shows(const std::string& text, std::chrono::milliseconds bound);

    // Whether the program ends within `bound` (then Wait returns at once). For a program whose
    // standard error is not a terminal.
    bool EndsWithin(std::chrono::milliseconds bound);

private:
    // Reads what the terminal has, waiting a little for it; false once the child has let it go.
    bool ReadTerminal();

    testsupport::TempDir folder_;  // the child's output files
    bool outToFile_;
    pid_t pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
    int terminal_ = -1;  // the pseudo-terminal's master side, read while the child runs
    std::string terminalText_;
};

// Starts kelvane-cli and waits for it.
CliResult RunCli(const std::vector<std::string>& args, const CliOptions& options = {});

}  // namespace clitest
