#include "cli/CommandLine.h"

#include <charconv>
#include <optional>

#include "common/Version.h"

namespace cli {

namespace {

struct CommandShape {
    std::string_view name;
    CommandKind kind;
    std::size_t operands;
    bool takesJson;
};

constexpr CommandShape Commands[] = {
    {"list", CommandKind::List, 1, true},    {"info", CommandKind::Info, 2, true},
    {"hex", CommandKind::Hex, 2, false},     {"export", CommandKind::Export, 2, false},
    {"ports", CommandKind::Ports, 0, true},  {"send", CommandKind::Send, 1, false},
};

const CommandShape& FindCommand(std::string_view name) {
    for (const CommandShape& shape : Commands) {
        if (shape.name == name) return shape;
    }
    throw UsageError("unknown command '" + std::string(name) + "'");
}

// The value of "--name VALUE" or "--name=VALUE"; advances `at` past what it used.
std::string TakeValue(const std::vector<std::string>& args, std::size_t& at, std::string_view name,
                      std::optional<std::string_view> inlineValue) {
    if (inlineValue) return std::string(*inlineValue);
    if (at + 1 >= args.size()) throw UsageError(std::string(name) + " needs a value");
    return args[++at];
}

}  // namespace

std::uint32_t ParseNumber(std::string_view text, std::string_view what) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    // from_chars would accept nothing at all as a prefix match; every character must be a digit.
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || stop != end || error == std::errc::invalid_argument) {
        throw UsageError(std::string(what) + " '" + std::string(text) + "' is not a number");
    }
    if (error == std::errc::result_out_of_range) {
        throw UsageError(std::string(what) + " '" + std::string(text) + "' is too large");
    }
    return value;
}

Invocation ParseCommandLine(const std::vector<std::string>& args) {
    Invocation invocation;
    for (const std::string& arg : args) {
        if (arg == "--") break;
        if (arg == "--help" || arg == "-h" || arg == "--version") {
            invocation.kind = arg == "--version" ? CommandKind::Version : CommandKind::Help;
            return invocation;
        }
    }

    std::vector<std::string> operands;
    bool json = false;
    std::optional<std::string> port;
    std::optional<std::string> messages;
    std::optional<std::string> gap;
    bool optionsEnded = false;
    for (std::size_t at = 0; at < args.size(); ++at) {
        const std::string& arg = args[at];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 1, "-") != 0) {
            operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        std::optional<std::string_view> inlineValue;
        if (equals != std::string::npos) inlineValue = std::string_view(arg).substr(equals + 1);
        if (name == "--json" && !inlineValue) {
            json = true;
        } else if (name == "--port") {
            port = TakeValue(args, at, name, inlineValue);
        } else if (name == "--messages") {
            messages = TakeValue(args, at, name, inlineValue);
        } else if (name == "--gap") {
            gap = TakeValue(args, at, name, inlineValue);
        } else {
            throw UsageError("unknown option '" + arg + "'");
        }
    }

    if (operands.empty()) throw UsageError("no command given");
    const CommandShape& shape = FindCommand(operands.front());
    operands.erase(operands.begin());
    if (operands.size() != shape.operands) {
        throw UsageError(std::string(shape.name) + " takes " + std::to_string(shape.operands) +
                         (shape.operands == 1 ? " operand" : " operands") + ", not " +
                         std::to_string(operands.size()));
    }
    if (json && !shape.takesJson) throw UsageError(std::string(shape.name) + " has no --json");
    if (shape.kind != CommandKind::Send) {
        for (const auto* option : {&port, &messages, &gap}) {
            if (*option) throw UsageError("--port, --messages and --gap belong to send only");
        }
    }

    invocation.kind = shape.kind;
    invocation.json = json;
    switch (shape.kind) {
        case CommandKind::List:
            invocation.dumpPath = operands[0];
            break;
        case CommandKind::Info:
        case CommandKind::Hex:
            invocation.dumpPath = operands[0];
            invocation.messageNumber = ParseNumber(operands[1], "message number");
            break;
        case CommandKind::Export:
            invocation.dumpPath = operands[0];
            invocation.outputPath = operands[1];
            break;
        case CommandKind::Send:
            invocation.dumpPath = operands[0];
            if (!port) throw UsageError("send needs --port K (see the ports command)");
            invocation.portIndex = ParseNumber(*port, "port");
            if (messages) invocation.messages = ParseMessageSelection(*messages);
            if (gap) invocation.gapMs = ParseNumber(*gap, "gap");
            break;
        default:
            break;
    }
    return invocation;
}

std::string_view UsageLine() {
    return "usage: kelvane-cli list|info|hex|export|ports|send ... (kelvane-cli --help tells more)";
}

std::string VersionText() { return std::string("kelvane-cli ") + KELVANE_VERSION_TEXT; }

std::string HelpText() {
    return VersionText() + R"(: SysEx dumps from the command line

usage: kelvane-cli list FILE [--json]
       kelvane-cli info FILE N [--json]
       kelvane-cli hex FILE N
       kelvane-cli export FILE OUT.mid
       kelvane-cli ports [--json]
       kelvane-cli send FILE --port K [--messages LIST] [--gap MS]
       kelvane-cli --help | --version

  list    one line per message of the dump: number, 42H for KORG, stored length
  info    the four header lines of message N (numbered from 1, as in the list)
  hex     message N from its F0 to its F7, 16 bytes per line
  export  every message as a Standard MIDI File (format 0), replacing OUT.mid
          only once it is complete; OUT.mid "-" writes to standard output
  ports   the output ports: 0 (None), then one line "K name" per port
  send    sends the listed messages in order on port K; LIST like 1,3-5
          (default: all). After each message it waits until the message can
          have left a 31,250-baud MIDI cable (320 us per byte), then MS
          milliseconds more (default 150; 0 for no pause).
  --json  one JSON document instead of lines (list, info, ports)

Exit status: 0 done, 1 failed (the reason on stderr), 2 bad arguments.
)";
}

}  // namespace cli
