#include "cli/CommandLine.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
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
    {"ports", CommandKind::Ports, 0, true},  {"send", CommandKind::Send, 1, true},
    {"receive", CommandKind::Receive, 1, true},
    {"check", CommandKind::Check, 1, true},
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

std::uint32_t ParseSeconds(std::string_view text, std::string_view what) {
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if (point != std::string_view::npos && (fraction.empty() || fraction.size() > 3)) {
        throw UsageError(std::string(what) + " '" + std::string(text) + "' is not a number of seconds");
    }
    const std::uint64_t seconds = ParseNumber(whole, what);
    std::uint64_t milliseconds = 0;
    if (!fraction.empty()) {
        std::string digits(fraction);
        digits.resize(3, '0');
        milliseconds = ParseNumber(digits, what);
    }
    const std::uint64_t total = seconds * 1000 + milliseconds;
    if (total > UINT32_MAX) throw UsageError(std::string(what) + " '" + std::string(text) + "' is too large");
    return static_cast<std::uint32_t>(total);
}

std::vector<std::uint8_t> ParseHexBytes(std::string_view text, std::string_view what) {
    std::vector<std::uint8_t> bytes;
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] == ' ') {
            ++at;
            continue;
        }
        const std::size_t end = std::min(text.find(' ', at), text.size());
        const std::string_view token = text.substr(at, end - at);
        unsigned value = 0;
        const auto [stop, error] = std::from_chars(token.data(), token.data() + token.size(), value, 16);
        if (token.size() > 2 || stop != token.data() + token.size() || error != std::errc()) {
            throw UsageError(std::string(what) + ": '" + std::string(token) + "' is not a hexadecimal byte");
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
        at = end;
    }
    if (bytes.empty()) throw UsageError(std::string(what) + " holds no bytes");
    return bytes;
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
    bool input = false;
    std::optional<std::string> port;
    std::optional<std::string> messages;
    std::optional<std::string> gap;
    std::optional<std::string> speed;
    std::optional<std::string> idle, count, timeout, request, requestHex, outPort;
    std::optional<std::string> fix;
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
        } else if (name == "--speed") {
            speed = TakeValue(args, at, name, inlineValue);
        } else if (name == "--input" && !inlineValue) {
            input = true;
        } else if (name == "--idle") {
            idle = TakeValue(args, at, name, inlineValue);
        } else if (name == "--count") {
            count = TakeValue(args, at, name, inlineValue);
        } else if (name == "--timeout") {
            timeout = TakeValue(args, at, name, inlineValue);
        } else if (name == "--request") {
            request = TakeValue(args, at, name, inlineValue);
        } else if (name == "--request-hex") {
            requestHex = TakeValue(args, at, name, inlineValue);
        } else if (name == "--out-port") {
            outPort = TakeValue(args, at, name, inlineValue);
        } else if (name == "--fix") {
            fix = TakeValue(args, at, name, inlineValue);
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
    if (port && shape.kind != CommandKind::Send && shape.kind != CommandKind::Receive) {
        throw UsageError("--port belongs to send and receive only");
    }
    if ((messages || gap || speed) && shape.kind != CommandKind::Send) {
        throw UsageError("--messages, --gap and --speed belong to send only");
    }
    if (shape.kind != CommandKind::Receive) {
        for (const auto* option : {&idle, &count, &timeout, &request, &requestHex, &outPort}) {
            if (*option) {
                throw UsageError("--idle, --count, --timeout, --request, --request-hex and --out-port belong to "
                                 "receive only");
            }
        }
    }
    if (input && shape.kind != CommandKind::Ports) throw UsageError("--input belongs to ports only");
    if (fix && shape.kind != CommandKind::Check) throw UsageError("--fix belongs to check only");

    invocation.kind = shape.kind;
    invocation.json = json;
    switch (shape.kind) {
        case CommandKind::List:
            invocation.dumpPath = operands[0];
            break;
        case CommandKind::Check:
            invocation.dumpPath = operands[0];
            if (fix) invocation.fixPath = *fix;
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
            if (!port || port->empty()) throw UsageError("send needs --port K (see the ports command)");
            invocation.port = *port;
            if (messages) invocation.messages = ParseMessageSelection(*messages);
            if (gap) invocation.gapMs = ParseNumber(*gap, "gap");
            if (speed) {
                // "25" or "25%": a share of the cable's rate; "max" (or "最大", as the window
                // names it): as fast as the port takes.
                std::string_view text = *speed;
                if (text == "max" || text == kelvane::SpeedText(kelvane::FastestSpeed)) {
                    invocation.speedPercent = kelvane::FastestSpeed;
                } else {
                    if (!text.empty() && text.back() == '%') text.remove_suffix(1);
                    const std::uint32_t percent = ParseNumber(text, "speed");
                    if (percent == kelvane::FastestSpeed || !kelvane::SpeedAccepted(percent)) {
                        throw UsageError("--speed takes a percentage from " + std::to_string(kelvane::MinSpeedPercent) +
                                         " to " + std::to_string(kelvane::MaxSpeedPercent) + ", or max");
                    }
                    invocation.speedPercent = static_cast<int>(percent);
                }
            }
            break;
        case CommandKind::Receive:
            invocation.outputPath = operands[0];
            if (!port || port->empty()) throw UsageError("receive needs --port K (see ports --input)");
            invocation.port = *port;
            if (idle) invocation.idleMs = ParseSeconds(*idle, "idle");
            if (count) invocation.count = ParseNumber(*count, "count");
            if (timeout) invocation.timeoutMs = ParseSeconds(*timeout, "timeout");
            if (request && requestHex) throw UsageError("--request and --request-hex exclude each other");
            if (request) invocation.requestPath = *request;
            if (requestHex) invocation.requestBytes = ParseHexBytes(*requestHex, "--request-hex");
            if ((request || requestHex) != outPort.has_value()) {
                throw UsageError("--request and --request-hex go with --out-port K (see ports)");
            }
            if (outPort && outPort->empty()) throw UsageError("--out-port needs a port");
            if (outPort) invocation.outPort = *outPort;
            break;
        case CommandKind::Ports:
            invocation.input = input;
            break;
        default:
            break;
    }
    return invocation;
}

std::string_view UsageLine() {
    return "usage: kelvane-cli list|info|hex|export|check|ports|send|receive ... (kelvane-cli --help tells more)";
}

std::string VersionText() { return std::string("kelvane-cli ") + KELVANE_VERSION_TEXT; }

std::string HelpText() {
    return VersionText() + R"(: SysEx dumps from the command line

usage: kelvane-cli list FILE [--json]
       kelvane-cli info FILE N [--json]
       kelvane-cli hex FILE N
       kelvane-cli export FILE OUT.mid
       kelvane-cli check FILE [--fix OUT.syx] [--json]
       kelvane-cli ports [--json]
       kelvane-cli ports --input [--json]
       kelvane-cli send FILE --port PORT [--messages LIST] [--gap MS]
                   [--speed PERCENT|max] [--json]
       kelvane-cli receive OUT.syx --port PORT [--idle SECONDS] [--count N]
                   [--timeout SECONDS] [--request FILE | --request-hex "F0 .. F7"
                   --out-port PORT] [--json]
       kelvane-cli --help | --version

  FILE is a raw dump (.syx) or a Standard MIDI File (.mid), told apart by
  its first bytes ("MThd").

  list    one line per message of the dump: number, 42H for KORG, stored length
  info    the four header lines of message N (numbered from 1, as in the list)
  hex     message N from its F0 to its F7, 16 bytes per line
  export  every message as a Standard MIDI File (format 0), replacing OUT.mid
          only once it is complete; OUT.mid "-" writes to standard output
  check   the checksum of each message (Roland Data Set 1 and Request Data 1,
          Yamaha bulk dumps): number, maker, verdict; exit status 1 when
          any is wrong. --fix writes a copy as a dump file with every known
          checksum corrected, replacing OUT.syx only once it is complete, and
          then exits 0.
  ports   the output ports: 0 (None), then one line "K name" per port, with
          its whole name; with --input the input ports the same way. PORT
          in send and receive is such a number K, or a port's name, whole or
          any part of it that only one port's name holds
  send    sends the listed messages in order on PORT; LIST like 1,3-5
          (default: all). The bytes go at PERCENT (1 to 1000) of a
          31,250-baud MIDI cable's rate (3,125 bytes/s, 320 us per byte;
          default 100), also within a long message to a cable; "max" sends
          as fast as the port takes them. A port that leads to a cable and
          cannot tell how much it takes never gets more than the cable
          carries. Between messages MS milliseconds pass (default 150; 0
          for no pause). On a terminal one line shows the
          progress. Ctrl+C stops it at once: a message cut short is closed
          with F7, and the messages sent whole are told.
  receive records the SysEx messages arriving on input port K and saves them
          as a dump file, printing their list lines. It stops SECONDS after
          the last byte that is not a real-time byte such as clock or active
          sensing (--idle, default 1; 0 = never), after N messages (--count),
          after SECONDS in all (--timeout), or on Ctrl+C, keeping every
          complete message; with --count N it keeps exactly the first N. It
          also stops when the sending port or its server goes away.
          --request (all messages of FILE) or --request-hex (one message,
          F0 .. F7) is sent on output PORT first, once the input is open.
          OUT.syx is tried before recording starts; should saving still fail,
          the capture goes to a recovery file whose name is printed. OUT.syx
          "-" writes the dump to standard output (the list lines or the JSON
          then go to standard error).
  --json  one JSON document instead of lines (list, info, check, ports,
          receive); list, info and check name each message's maker
          ("manufacturer", null when its ID is not known); a failure then
          also prints {"error": reason} on standard output. For send a
          summary: messagesSent (whole), messagesTotal, bytes, seconds,
          cancelled, and error when the port failed

Exit status: 0 done, 1 failed (the reason on stderr), 2 bad arguments,
3 received and saved, but data was lost on the way in or a message's
checksum is wrong (the reasons on stderr, and in the JSON's "losses" and
"wrongChecksums"), 130 send stopped by Ctrl+C or SIGTERM
before everything was sent.
)";
}

}  // namespace cli
