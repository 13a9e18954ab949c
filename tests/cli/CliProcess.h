#pragma once
// Runs the real kelvane-cli as a child process: its standard output and error go to files
// (or the error stream to a pseudo-terminal), and the test reads them and the exit status.

#include <sys/types.h>

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

    // Sends the running program a signal (SIGINT stands for Ctrl+C).
    void Signal(int signal);

private:
    testsupport::TempDir folder_;  // the child's output files
    bool outToFile_;
    pid_t pid_ = -1;
    int terminal_ = -1;  // the pseudo-terminal's master side, read while the child runs
    std::string terminalText_;
};

// Starts kelvane-cli and waits for it.
CliResult RunCli(const std::vector<std::string>& args, const CliOptions& options = {});

}  // namespace clitest
