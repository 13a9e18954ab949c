#pragma once
// Turning a dump file into messages in the store, and the list texts of the stored messages.
//
// A dump is a raw byte stream: every F0 ... F7 run is one message; bytes outside a message are
// skipped. The scan never writes outside the store, whatever the file holds: a message longer
// than a slot is dropped whole, an F0 that the end of the file reaches before any F7 is
// dropped, and with the slots full the scan stops at the next message that would have been
// stored. What was dropped is counted so the user can be told. GUI thread only (the store is not
// shared with any other thread).
//
// Received bytes take the same road with the rules of a live MIDI stream (ScanRules::Wire):
// real-time bytes (F8-FF) may sit inside a message and are dropped there, and any other status
// byte ends a message that has no F7 yet, which is then dropped as cut off.

#include <cstddef>
#include <cstdint>
#include <string>

#include "sysex/SmfReader.h"
#include "sysex/Store.h"

namespace sysex {

struct ScanResult {
    std::int32_t stored = 0;           // messages now in slots 0 .. stored - 1
    std::int32_t droppedTooLong = 0;   // messages with more than 65,535 bytes before their F7
    bool droppedUnterminated = false;  // an F0 at the end of the file had no F7
    bool stoppedAtLimit = false;       // the store was full and another whole message followed
    std::int32_t droppedCutOff = 0;    // received messages that another status byte or the
                                       // end of receiving cut off before their F7
    std::int32_t droppedDamaged = 0;   // received messages that lost bytes on the way in
    std::int32_t notKept = 0;          // messages begun after the number asked for was complete

    bool DroppedAnything() const {
        return droppedTooLong > 0 || droppedUnterminated || stoppedAtLimit || droppedCutOff > 0 ||
               droppedDamaged > 0;
    }
};

enum class ScanRules {
    File,  // everything between F0 and F7 is the message's, status bytes included
    Wire,  // a MIDI stream: real-time bytes inside a message are dropped, other status bytes cut it
};

// Where a scan puts complete messages: MaxSysEx slots and their stored lengths. The store by
// default; a reception keeps slots of its own until the user stops it.
struct SlotTarget {
    std::uint8_t (*data)[SlotSize];
    std::uint16_t* lengths;
};
SlotTarget StoreSlots();

// Scans a dump fed in blocks of any size straight into slots (no copy, nothing allocated).
// Writes the stored length of each complete message; SysExCount is the caller's business.
class DumpScanner {
public:
    // At most `keep` messages are stored; every message begun after them is only counted as
    // not kept, however it ends.
    explicit DumpScanner(ScanRules rules = ScanRules::File, SlotTarget target = StoreSlots(),
                         std::int32_t keep = MaxSysEx)
        : rules_(rules), target_(target), keep_(keep) {}
    // Returns false once the scan has ended early (slots full and another whole message
    // followed); further blocks are then ignored.
    bool Feed(const std::uint8_t* data, std::size_t size);
    // Ends the scan and tells what was stored and dropped.
    ScanResult Finish();
    // Messages complete so far.
    std::int32_t Stored() const { return next_; }
    // Bytes went missing here: the open message, if any, is dropped as damaged rather than
    // stored with its parts spliced together.
    void Abandon();

private:
    void Append(const std::uint8_t* bytes, std::size_t count);
    // False once the slots were full and this message was one more: the scan stops.
    bool EndMessage();
    std::size_t MessageEnd(const std::uint8_t* data, std::size_t pos, std::size_t size) const;

    ScanRules rules_;
    SlotTarget target_;
    std::int32_t keep_;
    bool beyondKeep_ = false;      // the current message began after `keep_` were stored
    std::int32_t next_ = 0;        // next free slot
    bool inMessage_ = false;
    bool overflowing_ = false;     // the current message has outgrown its slot
    std::size_t length_ = 0;       // bytes of the current message so far, F0 included
    bool stopped_ = false;
    ScanResult result_;
};

// Scans a whole dump held in memory and sets SysExCount, as a load of that file would.
ScanResult ScanDump(const std::uint8_t* data, std::size_t size);

// Loads the dump file at `pathUtf8` into the store and sets SysExCount. A file that begins with
// "MThd" is read as a Standard MIDI File (sysex/SmfReader.h), its messages in the order a
// sequencer plays them, under the same limits and with the same counts of what was dropped (a
// message without its F7 counts as cut off); anything else is scanned as a raw dump. Throws
// kelvane::Failure "ファイル %s は開けません" when the file cannot be opened, and
// MalformedSmfText for a Standard MIDI File that breaks the format; the store is then
// unchanged. Should the system refuse a read midway, the messages completed so far are kept
// (SysExCount says how many) and the same failure is thrown, so the store's invariants hold.
ScanResult LoadDumpFile(const std::string& pathUtf8);

// Puts the Whole messages of a file read by ReadSmf into the store, in their order and
// under the store's limits, and sets SysExCount. Throws "ファイル %s は開けません" when the
// source no longer holds what was read (SysExCount then counts the messages stored before).
ScanResult StoreSmfMessages(ByteSource& source, const SmfContents& contents, const std::string& pathUtf8);

// "ファイル %s は Standard MIDI File として読めません (オフセット N: what is wrong there)".
std::string MalformedSmfText(const std::string& pathUtf8, const MalformedSmf& malformed);

// The list line of stored message `index` (from 0): "0001 42H 1024Byte", "0002 6Byte".
std::string ListLine(int index);

// What the user is told about dropped messages, one sentence per kind; empty when nothing was.
// A reception speaks of recording and receiving where a load speaks of reading.
enum class DroppedFrom { Load, Reception };
std::string DroppedNotice(const ScanResult& result, DroppedFrom from = DroppedFrom::Load);

}  // namespace sysex
