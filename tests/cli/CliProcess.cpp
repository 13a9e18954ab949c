#include "CliProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "Files.h"

extern char** environ;

namespace clitest {

namespace {

std::vector<std::string> MergedEnvironment(const Environment& environment) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (!environment.contains(text.substr(0, text.find('=')))) merged.push_back(text);
    }
    for (const auto& [name, value] : environment) merged.push_back(name + "=" + value);
    return merged;
}

void Check(int result, const char* what) {
    if (result != 0) throw std::runtime_error(std::string(what) + " failed: " + std::to_string(result));
}

}  // namespace

CliProcess::CliProcess(const std::vector<std::string>& args, const CliOptions& options)
    : outToFile_(!options.outPath.empty() || options.outDescriptor >= 0) {
    std::vector<std::string> argv{KELVANE_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argvPointers;
    for (auto& arg : argv) argvPointers.push_back(arg.data());
    argvPointers.push_back(nullptr);
    std::vector<std::string> env = MergedEnvironment(options.environment);
    std::vector<char*> envPointers;
    for (auto& entry : env) envPointers.push_back(entry.data());
    envPointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    Check(posix_spawn_file_actions_init(&actions), "posix_spawn_file_actions_init");
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const std::string outPath = outToFile_ ? options.outPath : folder_.File("out").string();
    if (options.outDescriptor >= 0) {
        posix_spawn_file_actions_adddup2(&actions, options.outDescriptor, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    std::string terminalName;
    if (options.errOnTerminal) {
        terminal_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (terminal_ < 0 || grantpt(terminal_) != 0 || unlockpt(terminal_) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        terminalName = ptsname(terminal_);
        posix_spawn_file_actions_addopen(&actions, 2, terminalName.c_str(), O_RDWR | O_NOCTTY, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, folder_.File("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    const int spawned = posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, argvPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    Check(spawned, "posix_spawn");
}

CliProcess::~CliProcess() {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (terminal_ >= 0) close(terminal_);
}

bool CliProcess::ReadTerminal() {
    char buffer[4096];
    pollfd watched{terminal_, POLLIN, 0};
    if (poll(&watched, 1, 100) <= 0) return true;
    const ssize_t got = read(terminal_, buffer, sizeof buffer);
    if (got > 0) {
        terminalText_.append(buffer, static_cast<std::size_t>(got));
        return true;
    }
    return got < 0 && errno == EINTR;
}

CliResult CliProcess::Wait() {
    int status = 0;
    // Read while the child runs so that it never blocks on a full terminal buffer; the master
    // reports an error once the child has closed the last handle of the slave.
    if (terminal_ >= 0) {
        while (ReadTerminal()) {
        }
    }
    if (reaped_) {
        status = status_;
    } else if (waitpid(pid_, &status, 0) != pid_) {
        throw std::runtime_error("waitpid failed");
    }
    pid_ = -1;
    CliResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (!outToFile_) result.out = testsupport::ReadText(folder_.File("out"));
    result.err = terminal_ >= 0 ? terminalText_ : testsupport::ReadText(folder_.File("err"));
    return result;
}

void CliProcess::Signal(int signal) const {
    if (pid_ > 0 && !reaped_) kill(pid_, signal);
}

bool CliProcess::Shows(const std::string& text, std::chrono::milliseconds bound) {
    if (terminal_ < 0) throw std::logic_error("Shows needs errOnTerminal");
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (terminalText_.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline || !ReadTerminal()) return false;
    }
    return true;
}

bool CliProcess::EndsWithin(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!reaped_) {
        const pid_t ended = waitpid(pid_, &status_, WNOHANG);
        if (ended == pid_) {
            reaped_ = true;
        } else if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        } else {
            usleep(10'000);
        }
    }
    return true;
}

CliResult RunCli(const std::vector<std::string>& args, const CliOptions& options) {
    CliProcess process(args, options);
    return process.Wait();
}

}  // namespace clitest
