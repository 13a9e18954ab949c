#pragma once
// Reading the System Exclusive messages of a Standard MIDI File (format 0, 1 or 2).
//
// Every track chunk is walked event by event: delta times, running status (kept across meta and
// SysEx events, as most players keep it), channel and meta events skipped. A SysEx event
// "F0 <len> data" begins a message; "F7 <len> data" continues the message still open in its
// track (a packet of a split message), or, with none open, carries raw bytes (an escape), in
// which any F0 ... F7 run is a message too. A message ends at its F7; one that a further F0
// event or the end of its track cuts off first is reported as cut off. Each message takes the
// time of the event holding its F0. For formats 0 and 1 the messages come in time order across
// all tracks (equal times: the lower track first, then file order); for format 2 track after
// track. Every MTrk chunk counts as a track, also beyond the header's count; other chunks are
// skipped.
//
// The reader only finds where each message's bytes lie in the file; copying them into slots is
// the caller's business, so a file is read once for its structure and its messages' bytes can
// then go straight to their place. No globals; any thread, one reader per source.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/Failure.h"

namespace sysex {

// Whether bytes that begin a file make it a Standard MIDI File: its first chunk is "MThd".
bool StartsLikeSmf(std::span<const std::uint8_t> firstBytes);

// Where the reader takes a file's bytes from, at any offset, in any order.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The number of bytes of the file.
    virtual std::uint64_t Size() const = 0;
    // Reads up to `size` bytes at `offset`; fewer only at the end of the file. Throws what the
    // file throws.
    virtual std::size_t ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) = 0;
    // All the bytes, when they are in memory already; empty otherwise.
    virtual std::span<const std::uint8_t> InMemory() const { return {}; }
};

// Bytes held in memory as a source.
class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override;
    std::span<const std::uint8_t> InMemory() const override { return bytes_; }

private:
    std::span<const std::uint8_t> bytes_;
};

// A file that breaks the format: where, and what is wrong there (Japanese, for the user).
class MalformedSmf : public kelvane::Failure {
public:
    MalformedSmf(std::uint64_t offset, const std::string& reason);
    std::uint64_t Offset() const { return offset_; }
    const std::string& Reason() const { return reason_; }

private:
    std::uint64_t offset_;
    std::string reason_;
};

// A run of a message's bytes in the file.
struct SmfPiece {
    std::uint64_t offset;
    std::uint32_t size;
};

enum class SmfMessageKind {
    Whole,    // F0 ... F7, its bytes in pieces
    TooLong,  // more than the longest stored length before its F7; no pieces kept
    CutOff,   // no F7 before a further F0 event or the end of its track; no pieces kept
};

struct SmfMessage {
    SmfMessageKind kind;
    std::uint64_t time;         // ticks from the start of its track
    std::uint32_t track;        // from 0, in file order
    std::uint32_t length;       // Whole: bytes from the F0 through the F7
    std::size_t firstPiece;     // into SmfContents::pieces
    std::size_t pieceCount;
};

struct SmfContents {
    std::uint16_t format = 0;
    std::uint32_t tracks = 0;             // MTrk chunks read
    std::vector<SmfMessage> messages;     // in the order a sequencer plays them
    std::vector<SmfPiece> pieces;
    // Broken past its header, first at this offset; `messages` are those complete before the
    // break in each track.
    bool damaged = false;
    std::uint64_t damagedAt = 0;
    std::string damage;  // what is wrong there
};

// Messages and pieces a reader keeps at most, so that no file, however built, takes memory
// without bound; far beyond any real file, whose messages are counted in thousands.
inline constexpr std::size_t MaxSmfEntries = std::size_t{1} << 22;

// Reads the structure of the whole file. A message with more than `maxStoredLength` bytes
// before its F7 is TooLong. Throws MalformedSmf for a file whose header breaks the format; a
// file broken further on (a truncated chunk, an event that runs past its chunk, a missing
// track, ...) gives, in every track, the messages complete before the break (a track the end
// of the file cuts keeps those before the cut; the tracks after a broken one are still read),
// marked damaged at the first break. Throws kelvane::Failure beyond
// MaxSmfEntries, and what the source throws.
SmfContents ReadSmf(ByteSource& source, std::size_t maxStoredLength);

}  // namespace sysex
