#pragma once
// Turning a dump file into messages in the store, and the list texts of the stored messages.
//
// A dump is a raw byte stream: every F0 ... F7 run is one message; bytes outside a message are
// skipped. Messages of any number and length are kept (sysex/Store.h) until memory runs out:
// the scan then stops, keeps the messages complete before, and says so. An F0 that the end of
// the file reaches before any F7 is dropped. What was dropped is counted so the user can be
// told. GUI thread only (the store is not shared with any other thread).
//
// Received bytes take the same road with the rules of a live MIDI stream (ScanRules::Wire):
// real-time bytes (F8-FF) may sit inside a message and are dropped there, and any other status
// byte ends a message that has no F7 yet, which is then dropped as cut off.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "sysex/SmfReader.h"
#include "sysex/Store.h"

namespace sysex {

struct ScanResult {
    std::int32_t stored = 0;           // messages now in the store, numbers 0 .. stored - 1
    std::int32_t droppedTooLong = 0;   // Standard MIDI File messages of 4 GiB or more
    bool droppedUnterminated = false;  // an F0 at the end of the file had no F7
    bool stoppedOutOfMemory = false;   // memory (or the count's range) ran out at message stored + 1
    std::int32_t droppedCutOff = 0;    // received messages that another status byte or the
                                       // end of receiving cut off before their F7
    std::int32_t droppedDamaged = 0;   // received messages that lost bytes on the way in
    std::int32_t notKept = 0;          // messages begun after the number asked for was complete
    // A Standard MIDI File broken at this offset: the messages complete before it were kept.
    bool damaged = false;
    std::uint64_t damagedAt = 0;
    std::string damage;                // what is wrong there

    bool DroppedAnything() const {
        return droppedTooLong > 0 || droppedUnterminated || stoppedOutOfMemory || droppedCutOff > 0 || droppedDamaged > 0 || damaged;
    }
};

enum class ScanRules {
    File,  // everything between F0 and F7 is the message's, status bytes included
    Wire,  // a MIDI stream: real-time bytes inside a message are dropped, other status bytes cut it
};

// Scans a dump fed in blocks of any size straight into a store writer (the store's by default).
// The message count is the caller's business.
class DumpScanner {
public:
    // At most `keep` messages are stored (0: no such limit); every message begun after them is
    // only counted as not kept, however it ends.
    explicit DumpScanner(ScanRules rules = ScanRules::File, StoreWriter& target = StoreWriting(),
                         std::int32_t keep = 0)
        : rules_(rules), target_(target), keep_(keep) {
        target_.Restart();
    }
    // Returns false once the scan has ended early (memory ran out); further blocks are then
    // ignored.
    bool Feed(const std::uint8_t* data, std::size_t size);
    // Ends the scan and tells what was stored and dropped.
    ScanResult Finish();
    // Messages complete so far.
    std::int32_t Stored() const { return target_.Count(); }
    // Bytes went missing here: the open message, if any, is dropped as damaged rather than
    // stored with its parts spliced together.
    void Abandon();
    // A message has begun and not yet ended.
    bool InMessage() const { return inMessage_; }

private:
    void Append(const std::uint8_t* bytes, std::size_t count);
    void EndMessage();
    std::size_t MessageEnd(const std::uint8_t* data, std::size_t pos, std::size_t size) const;

    ScanRules rules_;
    StoreWriter& target_;
    std::int32_t keep_;
    bool beyondKeep_ = false;      // the current message began after `keep_` were stored
    bool inMessage_ = false;
    bool stopped_ = false;
    ScanResult result_;
};

// Scans a whole dump held in memory and sets SysExCount, as a load of that file would.
ScanResult ScanDump(const std::uint8_t* data, std::size_t size);

// Loads the dump file at `pathUtf8` into the store and sets SysExCount. A file that begins with
// "MThd", a RIFF 'RMID' file (the Standard MIDI File in its 'data' chunk) or a MacBinary file
// whose data fork is one (below), is read as a
// Standard MIDI File (sysex/SmfReader.h), its messages in the order a sequencer plays them (a
// message without its F7 counts as cut off); anything else is scanned as a raw dump. Throws
// kelvane::Failure "ファイル %s は開けません" when the file cannot be opened, and
// MalformedSmfText for a Standard MIDI File whose header already breaks the format; the store is
// then unchanged. A file damaged further on gives the messages complete before the damage. Should the system refuse a read midway, the messages completed so far are kept
// (SysExCount says how many) and the same failure is thrown, so the store's invariants hold.
ScanResult LoadDumpFile(const std::string& pathUtf8);

// A raw dump is read in blocks of this size: large enough that a 65 MB dump takes some 65 reads,
// small enough to stay in cache and to let a load be watched and stopped between reads.
inline constexpr std::size_t LoadBlockSize = std::size_t{1} << 20;

// A load on a thread of its own, watched from the window's: how far it has come, and the
// window's wish that it stop. The loading thread writes the counts and reads `stop` between
// reads; any thread reads the counts, bytesRead first (with acquire), then the messages found
// in those bytes.
struct LoadWatch {
    std::atomic<std::uint64_t> fileBytes{0};  // the file's size, once it is open
    std::atomic<std::uint64_t> bytesRead{0};  // how far into the file the load has read
    std::atomic<std::int32_t> messages{0};    // complete messages found so far
    std::atomic<bool> stop{false};
    // Called on the loading thread after each read, with bytesRead; a seam for tests that need
    // a load to stay under way (none in the program).
    std::function<void(std::uint64_t)> afterRead;
};

// Thrown by LoadDump once it sees its watch's `stop`.
struct LoadStopped {};

// Loads the dump file as LoadDumpFile does, but into `target` (messages 0 .. stored - 1 there),
// not the store, so that it can run on any thread; SysExCount is left alone. Reports its
// progress to `watch` and throws LoadStopped when asked to stop. A failure (the same texts as
// LoadDumpFile's) leaves in `target` only what the caller is about to throw away.
ScanResult LoadDump(const std::string& pathUtf8, StoreWriter& target, LoadWatch& watch);

// Loads the file's messages as LoadDumpFile does, into a block of their own instead of the
// store (to be inserted into it); target.count says how many.
ScanResult LoadDumpFileInto(const std::string& pathUtf8, OwnStore& target);

// Puts the Whole messages of a file read by ReadSmf into the store, in their order, and
// sets SysExCount. Throws "ファイル %s は開けません" when the
// source no longer holds what was read (SysExCount then counts the messages stored before).
ScanResult StoreSmfMessages(ByteSource& source, const SmfContents& contents, const std::string& pathUtf8);
// The same into any writer, telling each message found to `watch` when there is one; SysExCount
// is left alone.
ScanResult WriteSmfMessages(ByteSource& source, const SmfContents& contents, const std::string& pathUtf8,
                            StoreWriter& target, LoadWatch* watch);

// A RIFF 'RMID' file wraps a Standard MIDI File in its 'data' chunk (Microsoft's RIFF MIDI, as
// IBM and Microsoft's 1991 multimedia programming interface and data formats give it): "RIFF" size "RMID", then
// chunks of a four-letter type, a little-endian size and the data, padded to an even length.
// Where the SMF lies in such a file; nothing for any other file.
struct SmfWindow {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};
std::optional<SmfWindow> RmidData(ByteSource& file);

// A file from an old Macintosh may carry a 128-byte MacBinary header before its data fork
// (MacBinary II Standard, as agreed at the MacBinary II Conference 1987, header offsets 000
// "old version number, must be kept at zero", 001 "length of filename (must be in the range
// 1-63)", 074 and 082 zero, 083 the data fork's length as a big-endian long word; reposted as
// dev/info/mac-binary-ii.txt in the Info-Mac archive,
// http://hyperarchive.lcs.mit.edu/HyperArchive/Abstracts/dev/info/mac-binary-ii.txt.txt).
// Where the SMF lies in such a file whose data fork begins with "MThd"; nothing otherwise.
inline constexpr std::uint64_t kMacBinaryHeaderSize = 128;
std::optional<SmfWindow> MacBinaryData(ByteSource& file);

// "ファイル %s は Standard MIDI File として読めません (オフセット N: what is wrong there)".
std::string MalformedSmfText(const std::string& pathUtf8, const MalformedSmf& malformed);

// The list line of stored message `index` (from 0): "0001 42H 1024Byte", "0002 6Byte".
std::string ListLine(int index);

// What the user is told about dropped messages, one sentence per kind; empty when nothing was.
// A reception speaks of recording and receiving where a load speaks of reading.
enum class DroppedFrom { Load, Reception };
std::string DroppedNotice(const ScanResult& result, DroppedFrom from = DroppedFrom::Load);

}  // namespace sysex
