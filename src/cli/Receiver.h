#pragma once
// Receiving from the command line: open the input entry, send the request (if any) once the
// input listens, collect until a stop condition, and leave the complete messages in the store
// as the window's "停止" does.

#include <cstdint>
#include <ostream>
#include <string>

#include "sysex/Loader.h"

namespace cli {

struct ReceiveRequest {
    std::uint32_t inputEntry = 0;
    std::uint32_t idleMs = 0;     // 0 = no idle stop
    std::uint32_t count = 0;      // 0 = no count stop
    std::uint32_t timeoutMs = 0;  // 0 = no overall limit
    bool sendStore = false;       // send every stored message first, on outputEntry
    std::uint32_t outputEntry = 0;
};

struct ReceiveOutcome {
    sysex::ScanResult scan;       // what went into the store
    std::uint64_t bytes = 0;      // every byte received
    std::string stoppedBy;        // "idle", "count", "full", "timeout" or "interrupt"
    std::string inputError;       // why the input lost bytes; empty when it did not
};

// Throws kelvane::Failure when a port is out of range or cannot be opened, or the request cannot
// be sent; the store is then as the request left it. With `progress` (a terminal) it shows a
// live count there on one line.
ReceiveOutcome ReceiveIntoStore(const ReceiveRequest& request, std::ostream* progress);

}  // namespace cli
