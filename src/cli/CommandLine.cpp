#include "cli/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <optional>

#include "common/Version.h"
#include "sysex/NumberText.h"

namespace cli {

namespace {

// Operands from `operands` up; `more` lets any number follow (request's PARAM=VALUE).
struct CommandShape {
    std::string_view name;
    CommandKind kind;
    std::size_t operands;
    bool takesJson;
    bool more = false;
};

constexpr CommandShape Commands[] = {
    {"list", CommandKind::List, 1, true},    {"info", CommandKind::Info, 2, true},
    {"hex", CommandKind::Hex, 2, false},     {"export", CommandKind::Export, 2, false},
    {"join", CommandKind::Join, 2, false, true},
    {"ports", CommandKind::Ports, 0, true},  {"send", CommandKind::Send, 1, true},
    {"receive", CommandKind::Receive, 1, true},
    {"check", CommandKind::Check, 1, true},
    {"identify", CommandKind::Identify, 0, true},
    {"requests", CommandKind::Requests, 0, true},
    {"request", CommandKind::Request, 1, false, true},
};

// Options followed by a value unless written "--name=value"; the command word is the first
// argument that is neither an option nor such a value. --input takes a value for identify
// only, so it is not among them.
constexpr std::string_view ValueOptions[] = {"--port", "--messages", "--gap", "--speed", "--idle", "--count",
                                             "--timeout", "--request", "--request-hex", "--out-port", "--fix",
                                             "--wait", "--request-name", "--device-id", "--format", "--encoding"};

std::string_view CommandWord(const std::vector<std::string>& args) {
    for (std::size_t at = 0; at < args.size(); ++at) {
        const std::string& arg = args[at];
        if (arg == "--") return at + 1 < args.size() ? std::string_view(args[at + 1]) : std::string_view();
        if (arg.size() < 2 || arg[0] != '-') return arg;
        if (arg.find('=') == std::string::npos &&
            std::find(std::begin(ValueOptions), std::end(ValueOptions), arg) != std::end(ValueOptions)) {
            ++at;
        }
    }
    return {};
}

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

std::uint32_t ParseDeviceId(std::string_view text) {
    // Bare numbers are decimal here, as the help gives them; 11H and 0x11 as everywhere.
    const std::optional<std::uint32_t> value = sysex::ReadNumberText(text, sysex::Numbering::Decimal);
    if (!value || *value > 0x7F) {
        throw UsageError("--device-id '" + std::string(text) + "' is not a device number from 0 to 127 (00H-7FH)");
    }
    return *value;
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
    // Each --messages with the number of operands before it: join's belongs to the FILE it follows.
    std::vector<std::pair<std::size_t, std::string>> messageLists;
    std::optional<std::string> format;
    std::optional<std::string> gap;
    std::optional<std::string> speed;
    std::optional<std::string> idle, count, timeout, request, requestHex, outPort;
    std::optional<std::string> fix;
    std::optional<std::string> inputPort, wait, requestName, deviceId, encoding;
    const bool identify = CommandWord(args) == "identify";
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
            messageLists.emplace_back(operands.size(), *messages);
        } else if (name == "--format") {
            format = TakeValue(args, at, name, inlineValue);
        } else if (name == "--gap") {
            gap = TakeValue(args, at, name, inlineValue);
        } else if (name == "--speed") {
            speed = TakeValue(args, at, name, inlineValue);
        } else if (name == "--input" && identify) {
            inputPort = TakeValue(args, at, name, inlineValue);
        } else if (name == "--input" && !inlineValue) {
            input = true;
        } else if (name == "--wait") {
            wait = TakeValue(args, at, name, inlineValue);
        } else if (name == "--request-name") {
            requestName = TakeValue(args, at, name, inlineValue);
        } else if (name == "--device-id") {
            deviceId = TakeValue(args, at, name, inlineValue);
        } else if (name == "--encoding") {
            encoding = TakeValue(args, at, name, inlineValue);
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
    // receive --request-name takes the request's PARAM=VALUE operands after the file.
    const bool moreOperands = shape.more || (shape.kind == CommandKind::Receive && requestName);
    if (moreOperands && shape.kind != CommandKind::Join && operands.size() > shape.operands) {
        for (std::size_t i = shape.operands; i < operands.size(); ++i) {
            if (operands[i].find('=') == std::string::npos) {
                throw UsageError("'" + operands[i] + "' is not PARAM=VALUE");
            }
        }
    }
    if (moreOperands ? operands.size() < shape.operands : operands.size() != shape.operands) {
        throw UsageError(std::string(shape.name) + " takes " + std::to_string(shape.operands) +
                         (shape.operands == 1 ? " operand" : " operands") + ", not " +
                         std::to_string(operands.size()));
    }
    if (json && !shape.takesJson) throw UsageError(std::string(shape.name) + " has no --json");
    if (port && shape.kind != CommandKind::Send && shape.kind != CommandKind::Receive &&
        shape.kind != CommandKind::Identify) {
        throw UsageError("--port belongs to send, receive and identify only");
    }
    if (wait && shape.kind != CommandKind::Identify) throw UsageError("--wait belongs to identify only");
    if (requestName && shape.kind != CommandKind::Receive) throw UsageError("--request-name belongs to receive only");
    if (deviceId && shape.kind != CommandKind::Send) throw UsageError("--device-id belongs to send only");
    if ((gap || speed) && shape.kind != CommandKind::Send) throw UsageError("--gap and --speed belong to send only");
    if (messages && shape.kind != CommandKind::Send && shape.kind != CommandKind::Export && shape.kind != CommandKind::Join) {
        throw UsageError("--messages belongs to send, export and join only");
    }
    if (format && shape.kind != CommandKind::Export && shape.kind != CommandKind::Join) {
        throw UsageError("--format belongs to export and join only");
    }
    if (format && *format != "raw" && *format != "smf") throw UsageError("--format takes raw or smf");
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

    if (encoding) {
        std::string name = *encoding;
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        if (name != "utf-8" && name != "utf8") throw UsageError("--encoding takes utf-8 only, not '" + *encoding + "'");
    }

    invocation.kind = shape.kind;
    invocation.json = json;
    if (format) invocation.format = *format == "raw" ? OutputFormat::Raw : OutputFormat::Smf;
    invocation.utf8 = encoding.has_value();
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
            if (messages) invocation.messages = ParseMessageSelection(*messages);
            break;
        case CommandKind::Join:
            invocation.outputPath = operands[0];
            for (std::size_t i = 1; i < operands.size(); ++i) invocation.joined.push_back({operands[i], {}});
            for (const auto& [before, list] : messageLists) {
                // Counted with the command word: operand `before - 1` is the one the list follows.
                if (before < 3) throw UsageError("--messages of join follows the FILE it picks from");
                JoinedFile& file = invocation.joined[before - 3];
                if (!file.messages.empty()) throw UsageError("--messages given twice for '" + file.path + "'");
                file.messages = ParseMessageSelection(list);
            }
            break;
        case CommandKind::Send:
            invocation.dumpPath = operands[0];
            if (!port || port->empty()) throw UsageError("send needs --port K (see the ports command)");
            invocation.port = *port;
            if (messages) invocation.messages = ParseMessageSelection(*messages);
            if (gap) invocation.gapMs = ParseNumber(*gap, "gap");
            if (deviceId) invocation.deviceId = ParseDeviceId(*deviceId);
            if (speed) {
                // "25" or "25%": a share of the cable's rate; "max" (or "最大", as the window
                // names it): as fast as the port takes.
                std::string_view text = *speed;
                if (text == "max" || text == midi::SpeedText(midi::FastestSpeed)) {
                    invocation.speedPercent = midi::FastestSpeed;
                } else {
                    if (!text.empty() && text.back() == '%') text.remove_suffix(1);
                    const std::uint32_t percent = ParseNumber(text, "speed");
                    if (percent == midi::FastestSpeed || !midi::SpeedAccepted(percent)) {
                        throw UsageError("--speed takes a percentage from " + std::to_string(midi::MinSpeedPercent) +
                                         " to " + std::to_string(midi::MaxSpeedPercent) + ", or max");
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
            if (int{request.has_value()} + int{requestHex.has_value()} + int{requestName.has_value()} > 1) {
                throw UsageError("--request, --request-hex and --request-name exclude each other");
            }
            if (request) invocation.requestPath = *request;
            if (requestHex) invocation.requestBytes = ParseHexBytes(*requestHex, "--request-hex");
            if (requestName) {
                if (requestName->empty()) throw UsageError("--request-name needs a name (see requests)");
                invocation.requestName = *requestName;
                invocation.requestValues.assign(operands.begin() + 1, operands.end());
            }
            if ((request || requestHex || requestName) != outPort.has_value()) {
                throw UsageError("--request, --request-hex and --request-name go with --out-port K (see ports)");
            }
            if (outPort && outPort->empty()) throw UsageError("--out-port needs a port");
            if (outPort) invocation.outPort = *outPort;
            break;
        case CommandKind::Ports:
            invocation.input = input;
            break;
        case CommandKind::Identify:
            if (!port || port->empty()) throw UsageError("identify needs --port K, where the request goes (see ports)");
            if (!inputPort || inputPort->empty()) {
                throw UsageError("identify needs --input K, where the replies come in (see ports --input)");
            }
            invocation.port = *port;
            invocation.inputPort = *inputPort;
            if (wait) invocation.waitMs = ParseSeconds(*wait, "wait");
            break;
        case CommandKind::Request:
            invocation.requestName = operands[0];
            invocation.requestValues.assign(operands.begin() + 1, operands.end());
            break;
        default:
            break;
    }
    return invocation;
}

std::string_view UsageLine() {
    return "usage: kelvane-cli list|info|hex|export|join|check|ports|send|receive|identify|requests|request ... "
           "(kelvane-cli --help tells more)";
}

std::string VersionText() { return std::string("kelvane-cli ") + KELVANE_VERSION_TEXT; }

std::string HelpText() {
    return VersionText() + R"(: SysEx dumps from the command line

usage: kelvane-cli list FILE [--json]
       kelvane-cli info FILE N [--json]
       kelvane-cli hex FILE N
       kelvane-cli export FILE OUT [--messages LIST] [--format raw|smf]
       kelvane-cli join OUT FILE [--messages LIST] [FILE [--messages LIST] ...]
                   [--format raw|smf]
       kelvane-cli check FILE [--fix OUT] [--json]
       kelvane-cli ports [--json]
       kelvane-cli ports --input [--json]
       kelvane-cli send FILE --port PORT [--messages LIST] [--gap MS]
                   [--speed PERCENT|max] [--device-id N] [--json]
       kelvane-cli receive OUT.syx --port PORT [--idle SECONDS] [--count N]
                   [--timeout SECONDS] [--request FILE | --request-hex "F0 .. F7"
                   | --request-name NAME [PARAM=VALUE ...] --out-port PORT] [--json]
       kelvane-cli identify --port PORT --input PORT [--wait SECONDS] [--json]
       kelvane-cli requests [--json]
       kelvane-cli request NAME [PARAM=VALUE ...]
       kelvane-cli --help | --version

  Every command also takes --encoding utf-8 (see below).

  FILE is a raw dump (.syx), a Standard MIDI File (.mid) or a RIFF MIDI
  file (.rmi), told apart by their first bytes ("MThd", "RIFF"...."RMID"),
  also behind a 128-byte MacBinary header. Messages of any number and
  length are read; of a file damaged part way, the messages complete
  before the damage in every track.

  list    one line per message of the dump: number, 42H for KORG, stored length
  info    the four header lines of message N (numbered from 1, as in the list)
  hex     message N from its F0 to its F7, 16 bytes per line
  export  the messages as a raw dump when OUT ends in .syx or .ex, otherwise as
          a Standard MIDI File (format 0); --format raw or smf decides
          instead. With --messages LIST only those, in the order written:
          5,1-3 writes 5, 1, 2, 3, and a message may be named twice. OUT is
          replaced only once it is complete; OUT "-" writes to standard output
  join    the messages of every FILE in turn into OUT, written as export
          writes; --messages LIST after a FILE picks from that FILE alone
  check   the checksum of each message (Roland Data Set 1 and Request Data 1,
          Yamaha bulk dumps): number, maker, verdict; exit status 1 when
          any is wrong. --fix writes a copy of FILE in which exactly the
          wrong checksum bytes are corrected and every other byte is kept
          (OUT may be FILE itself), replacing OUT only once it is complete,
          and then exits 0.
  ports   the output ports: 0 (None), then one line "K name" per port, with
          its whole name; with --input the input ports the same way. PORT
          in send and receive is such a number K, or a port's name, whole or
          any part of it that only one port's name holds
  send    sends the listed messages in order on PORT; LIST like 1,3-5
          (default: all). The bytes go at PERCENT (1 to 1000) of a
          31,250-baud MIDI cable's rate (3,125 bytes/s, 320 us per byte;
          default )" + std::to_string(midi::DefaultSpeedPercent) + R"(), also within a long message to a
          cable; "max" sends as fast as the port takes them. A port that
          leads to a cable and cannot tell how much it takes never gets more
          than the cable carries. Between messages MS milliseconds pass
          (default )" + std::to_string(midi::DefaultPauseMs) + R"(; 0 for no pause). On a terminal one line shows the
          progress. Ctrl+C stops it at once: a message cut short is closed
          with F7, and the messages sent whole are told; a port that takes
          nothing more is given up within 3 seconds. --device-id N
          (decimal, or hexadecimal as 11H or 0x11) first gives every message whose
          form has a device number that number: Roland (00H-1FH), Yamaha and
          KORG (0-15), universal messages (the broadcast 7FH stays); a number
          some message cannot hold is refused before anything is sent. The
          file is not changed.
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
          then go to standard error). --request-name sends a request of the
          requests table, built from the PARAM=VALUE operands after OUT.syx.
  identify
          sends the Identity Request (F0 7E 7F 06 01 F7) on output PORT and
          lists every Identity Reply that arrives on input PORT within SECONDS
          (--wait, default 1), each unit once: device ID, maker, family and
          member (also as the reply's bytes, as manuals write them: 42H 02H),
          version. What came before the request went out is no answer to it.
          A message that begins as a reply but is none (too long, no F7) is
          listed as malformed ("malformed" in the JSON). Exit status 1 when no
          valid reply came.
  requests
          the dump requests known by name, with their parameters and the
          document each follows
  request prints the bytes of a named request. A VALUE with H or 0x is
          hexadecimal; a bare VALUE is read as the parameter's document writes
          it, which requests shows with its range: patch numbers and channels
          in decimal as the manual counts them (program=50 is Matrix-1000
          patch 50, channel=1 the first channel), addresses, sizes and IDs in
          hexadecimal as Roland writes them, as in
          request roland-rq1 device=10 model=42 address=400000 size=00007F
          A value the parameter cannot take is a bad argument (exit status 2).
  --json  one JSON document instead of lines (list, info, check, ports,
          receive, identify, requests); list, info and check name each
          message's maker ("manufacturer", null when its ID is not known), info
          what it means ("meaning", null when not known); a failure then
          also prints {"error": reason} on standard output. For send a
          summary: messagesSent (whole), messagesTotal, bytes, seconds,
          inDoubt (numbers of messages that went out while the JACK port
          missed cycles; send them again with --messages), cancelled, and
          error when the port failed
  --encoding utf-8
          On Windows, text written to a file or a pipe is in the console's
          code page (the ANSI code page without a console), as type, more
          and find read it, with "?" for what that page cannot hold; with
          this option it is UTF-8, as everywhere else. JSON (--json) is
          always UTF-8. On a console the text shows right either way.

Exit status: 0 done, 1 failed (the reason on stderr), 2 bad arguments,
3 received and saved, but data was lost on the way in or a message's
checksum is wrong (the reasons on stderr, and in the JSON's "losses" and
"wrongChecksums"), or sent, but some messages went out while the JACK
port missed cycles (named on stderr and in "inDoubt"), 130 send stopped by Ctrl+C or SIGTERM
before everything was sent.
)";
}

}  // namespace cli
