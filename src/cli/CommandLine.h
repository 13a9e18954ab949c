#pragma once
// What the user asked kelvane-cli to do, read from its arguments. Only the shape is checked
// here (known command, right number of operands, numbers that are numbers); whether a message
// or port number exists is known only once the file is loaded or the ports are listed.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/MessageSelection.h"
#include "cli/UsageError.h"
#include "common/SendPace.h"

namespace cli {

enum class CommandKind { Help, Version, List, Info, Hex, Export, Ports, Send, Receive, Check };

// A reception ends this long after the last byte unless --idle says otherwise.
inline constexpr std::uint32_t DefaultIdleMs = 1000;

struct Invocation {
    CommandKind kind = CommandKind::Help;
    std::string dumpPath;               // list, info, hex, export, send, check
    std::string outputPath;             // export, receive
    std::uint32_t messageNumber = 0;    // info, hex: as typed, counted from 1
    bool json = false;                  // list, info, ports, send, receive, check
    bool input = false;                 // ports: the input ports instead
    std::string port;                   // send: output port, receive: input port; a number as
                                        // `ports` prints it, or (part of) a name
    std::vector<MessageRange> messages; // send: empty means all, in store order
    // send: the pause after each message (older devices drop data sent back to back) and the
    // speed, as common/SendPace.h has them
    std::uint32_t gapMs = kelvane::DefaultPauseMs;
    int speedPercent = kelvane::DefaultSpeedPercent;
    std::uint32_t idleMs = DefaultIdleMs;  // receive: 0 = no idle stop
    std::uint32_t count = 0;            // receive: keep this many messages, then stop; 0 = no limit
    std::uint32_t timeoutMs = 0;        // receive: stop after this long in all; 0 = no limit
    std::string requestPath;            // receive: a dump whose messages are sent first
    std::vector<std::uint8_t> requestBytes;  // receive: --request-hex, sent first
    std::string outPort;                // receive: output port the request goes to, as --port
    std::string fixPath;                // check: where the copy with corrected checksums goes
};

// Reads the arguments after the program name. "--help" or "--version" anywhere (before "--")
// wins over everything else; options may stand before, between or after the operands, as
// "--port 3" or "--port=3"; "--" ends the options, so a file may be called "--json".
// Throws UsageError.
Invocation ParseCommandLine(const std::vector<std::string>& args);

// Decimal digits only, no sign, within 32 bits. Throws UsageError naming `what`.
std::uint32_t ParseNumber(std::string_view text, std::string_view what);

// Seconds with up to three decimals ("1", "0.5", "2.125") as milliseconds, within 32 bits.
// Throws UsageError naming `what`.
std::uint32_t ParseSeconds(std::string_view text, std::string_view what);

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
