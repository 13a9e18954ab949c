#pragma once
// What the user asked kelvane-cli to do, read from its arguments. Only the shape is checked
// here (known command, right number of operands, numbers that are numbers); whether a message
// or port number exists is known only once the file is loaded or the ports are listed.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/MessageSelection.h"
#include "cli/Numbers.h"
#include "cli/UsageError.h"
#include "midi/Pace.h"

namespace cli {

enum class CommandKind { Help, Version, List, Info, Hex, Export, Join, Ports, Send, Receive, Check, Identify, Requests, Request };

// What export and join write: a raw dump when OUT ends in .syx or .ex, a Standard MIDI File
// otherwise, unless --format says.
enum class OutputFormat { ByName, Raw, Smf };

// One FILE of join with the messages picked from it (empty: all, in order).
struct JoinedFile {
    std::string path;
    std::vector<MessageRange> messages;
    bool operator==(const JoinedFile&) const = default;
};

// A reception ends this long after the last byte unless --idle says otherwise.
inline constexpr std::uint32_t DefaultIdleMs = 1000;
// identify listens this long for replies unless --wait says otherwise.
inline constexpr std::uint32_t DefaultWaitMs = 1000;

struct Invocation {
    CommandKind kind = CommandKind::Help;
    std::string dumpPath;               // list, info, hex, export, send, check
    std::string outputPath;             // export, join, receive
    OutputFormat format = OutputFormat::ByName;  // export, join
    std::vector<JoinedFile> joined;     // join: the files in order
    std::uint32_t messageNumber = 0;    // info, hex: as typed, counted from 1
    bool json = false;                  // list, info, ports, send, receive, check
    bool utf8 = false;                  // any command: --encoding utf-8, text to files and pipes
                                        // stays UTF-8 on Windows
    bool input = false;                 // ports: the input ports instead
    std::string port;                   // send: output port, receive: input port; a number as
                                        // `ports` prints it, or (part of) a name
    std::vector<MessageRange> messages; // send, export: empty means all, in store order
    // send: the pause after each message (older devices drop data sent back to back) and the
    // speed, as midi/Pace.h has them
    std::uint32_t gapMs = midi::DefaultPauseMs;
    int speedPercent = midi::DefaultSpeedPercent;
    std::uint32_t idleMs = DefaultIdleMs;  // receive: 0 = no idle stop
    std::uint32_t count = 0;            // receive: keep this many messages, then stop; 0 = no limit
    std::uint32_t timeoutMs = 0;        // receive: stop after this long in all; 0 = no limit
    std::string requestPath;            // receive: a dump whose messages are sent first
    std::vector<std::uint8_t> requestBytes;  // receive: --request-hex, sent first
    std::string outPort;                // receive: output port the request goes to, as --port
    std::string fixPath;                // check: where the copy with corrected checksums goes
    std::string inputPort;              // identify: the input port the replies come in on
    std::uint32_t waitMs = DefaultWaitMs;  // identify
    std::string requestName;            // request, receive --request-name: a named request
    std::vector<std::string> requestValues;  // its "PARAM=VALUE" operands
    std::optional<std::uint32_t> deviceId;   // send: the device number every message gets
};

// Reads the arguments after the program name. "--help" or "--version" anywhere (before "--")
// wins over everything else; options may stand before, between or after the operands, as
// "--port 3" or "--port=3"; "--" ends the options, so a file may be called "--json".
// Throws UsageError.
Invocation ParseCommandLine(const std::vector<std::string>& args);

// Seconds with up to three decimals ("1", "0.5", "2.125") as milliseconds, within 32 bits.
// Throws UsageError naming `what`.
std::uint32_t ParseSeconds(std::string_view text, std::string_view what);

// A device number: decimal ("17"), or hexadecimal with H or 0x ("11H", "0x11"), at most 7FH.
// Throws UsageError.
std::uint32_t ParseDeviceId(std::string_view text);

// Hexadecimal bytes separated by spaces ("F0 41 10 F7"), one or two digits each. Throws
// UsageError naming `what`.
std::vector<std::uint8_t> ParseHexBytes(std::string_view text, std::string_view what);

// The one-line synopsis printed after every usage error.
std::string_view UsageLine();

// The --help text (English), ending in a newline.
std::string HelpText();

// The --version text, "kelvane-cli " and the version text (common/Version.h), without a newline.
std::string VersionText();

}  // namespace cli
