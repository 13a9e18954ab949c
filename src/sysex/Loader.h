#pragma once
// Turning a dump file into messages in the store, and the list texts of the stored messages.
//
// A dump is a raw byte stream: every F0 ... F7 run is one message; bytes outside a message are
// skipped. The scan never writes outside the store, whatever the file holds: a message longer
// than a slot is dropped whole, an F0 that the end of the file reaches before any F7 is
// dropped, and with the store full the scan stops at the next message that would have been
// stored. What was dropped is counted so the user can be told. GUI thread only (the store is not shared with any other thread).

#include <cstddef>
#include <cstdint>
#include <string>

namespace sysex {

struct ScanResult {
    std::int32_t stored = 0;           // messages now in slots 0 .. stored - 1
    std::int32_t droppedTooLong = 0;   // messages with more than 65,535 bytes before their F7
    bool droppedUnterminated = false;  // an F0 at the end of the file had no F7
    bool stoppedAtLimit = false;       // the store was full and another whole message followed

    bool DroppedAnything() const { return droppedTooLong > 0 || droppedUnterminated || stoppedAtLimit; }
};

// Scans a dump fed in blocks of any size straight into the store's slots (no copy, nothing
// allocated). Writes SysExLen for each complete message; SysExCount is the caller's business.
class DumpScanner {
public:
    DumpScanner() = default;
    // Returns false once the scan has ended early (store full and another whole message
    // followed); further blocks are then ignored.
    bool Feed(const std::uint8_t* data, std::size_t size);
    // Ends the scan and tells what was stored and dropped.
    ScanResult Finish();
    // Messages complete so far.
    std::int32_t Stored() const { return next_; }

private:
    std::int32_t next_ = 0;        // next free slot
    bool inMessage_ = false;
    bool overflowing_ = false;     // the current message has outgrown its slot
    std::size_t length_ = 0;       // bytes of the current message so far, F0 included
    bool stopped_ = false;
    ScanResult result_;
};

// Scans a whole dump held in memory and sets SysExCount, as a load of that file would.
ScanResult ScanDump(const std::uint8_t* data, std::size_t size);

// Loads the dump file at `pathUtf8` into the store and sets SysExCount. Throws
// kelvane::Failure "ファイル %s は開けません" when the file cannot be opened; the store is then
// unchanged. Should the system refuse a read midway, the messages completed so far are kept
// (SysExCount says how many) and the same failure is thrown, so the store's invariants hold.
ScanResult LoadDumpFile(const std::string& pathUtf8);

// The list line of stored message `index` (from 0): "0001 42H 1024Byte", "0002 6Byte".
std::string ListLine(int index);

// What the user is told about dropped messages, one sentence per kind; empty when nothing was.
std::string DroppedNotice(const ScanResult& result);

}  // namespace sysex
