#pragma once
// Receiving from the command line: open the input entry, send the request (if any) once the
// input listens, collect until a stop condition, and leave the complete messages in the store
// as the window's "停止" does.

#include <cstdint>
#include <ostream>
#include <string>

#include "sysex/Reception.h"

namespace cli {

struct ReceiveRequest {
    std::uint32_t inputEntry = 0;  // an entry of the input listing already read (>= 1)
    std::string inputName;         // its name, for the failure texts
    std::uint32_t idleMs = 0;     // 0 = no idle stop
    std::uint32_t count = 0;      // keep this many, then stop; 0 = no count stop
    std::uint32_t timeoutMs = 0;  // 0 = no overall limit
    bool sendStore = false;       // send every stored message first, on outputEntry
    std::uint32_t outputEntry = 0;  // an entry of the output listing already read
    std::string outputName;
};

struct ReceiveOutcome {
    sysex::ReceptionSummary summary;  // what went into the store, what was dropped or lost
    // "idle", "count", "full", "timeout", "interrupt", "sourceGone" or "serverGone"
    std::string stoppedBy;
};

// The entries must come from listings read (with whole names) before this call, so that the
// numbers mean what the user saw; nothing is listed again here. Throws kelvane::Failure when a
// port cannot be opened or the request cannot be sent; the store is then as the request left
// it. With `progress` (a terminal) it shows a live count there on one line. With no message
// received the store is left as it was (summary.scan.stored == 0).
ReceiveOutcome ReceiveIntoStore(const ReceiveRequest& request, std::ostream* progress);

}  // namespace cli
