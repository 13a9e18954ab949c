#pragma once
// Saving the message store as a Standard MIDI File of format 0: the header chunk, then one track
// chunk holding one System Exclusive event per stored message, 96 ticks apart, closed by End of
// Track 48 ticks after the last message. The functions that build bytes are pure and read any
// list of messages (sysex::MessageList); WriteSmf and ExportStore put them in a file.
// No Qt; call from one thread at a time (ExportStore reads the global store in place).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/FileOutput.h"
#include "common/InOutError.h"
#include "sysex/Store.h"

namespace smf {

// "MThd", header length 6, format 0, one track, division 48, then the track chunk type "MTrk".
inline constexpr std::array<std::uint8_t, 18> SMFHeader = {
    0x4D, 0x54, 0x68, 0x64, 0x00, 0x00, 0x00, 0x06, 0x00,
    0x00, 0x00, 0x01, 0x00, 0x30, 0x4D, 0x54, 0x72, 0x6B,
};
// Delta time 48, meta event End of Track, length 0.
inline constexpr std::array<std::uint8_t, 4> EndOfTrack = {0x30, 0xFF, 0x2F, 0x00};
// Every message sits two quarter notes (96 ticks at division 48) after its predecessor.
inline constexpr std::uint8_t EventDeltaTicks = 0x60;

// The largest value four 7-bit groups hold, and so the longest message an event can carry.
inline constexpr std::uint32_t MaxVlqValue = 0x0FFFFFFF;

// Appends value as a variable-length quantity: 7-bit groups, most significant first, leading
// zero groups left out (0 is the single byte 00), bit 7 set on every byte but the last.
// Throws std::out_of_range above MaxVlqValue rather than emit a fifth group.
void AppendVlq(std::vector<std::uint8_t>& out, std::uint32_t value);
std::vector<std::uint8_t> EncodeVlq(std::uint32_t value);

// Bytes of the event of a message with stored length L: delta, F0, the length's VLQ and L bytes.
std::size_t EventSize(std::size_t storedLength);

// The body length n of the messages' events; the track chunk length is n + 4. Throws
// std::invalid_argument for a negative count, and kelvane::Failure (TooLongForSmfText,
// TooLargeForSmfText) for what a track cannot hold: a message longer than a VLQ can count, or
// n + 4 beyond 32 bits.
std::uint32_t TrackBodySize(const sysex::MessageList& messages);
std::string TooLongForSmfText(std::int32_t k);
std::string TooLargeForSmfText();

// Appends the event of one message: 60, F0, VLQ(L) and the message without its leading F0,
// ending with its F7.
void AppendSysExEvent(std::vector<std::uint8_t>& body, sysex::MessageBytes message);

// The track chunk's events for the messages, in their order.
std::vector<std::uint8_t> BuildTrackBody(const sysex::MessageList& messages);

// The events go to the file in pieces of at most this size: large enough that the system calls
// cost nothing next to the copying, small enough that a full store (65.5 MB of events) needs no
// second copy of itself in memory.
inline constexpr std::size_t WriteChunkBytes = std::size_t{1} << 20;

// Writes the whole file for the messages into a prepared file, in this order: SMFHeader, the
// track chunk length (n + 4, big-endian), the events, End of Track. Throws what the file and
// TrackBodySize throw.
void WriteSmf(kelvane::OutputFile& file, const sysex::MessageList& messages);

// The writing of EXPORT_SMF: saves every message of the global store, 0 .. sysex::SysExCount - 1,
// in store order, in place of the file (no question asked), then closes it. Throws EInOutError;
// the earlier file then stays as it was (OutputFile).
void ExportStore(const std::string& pathUtf8,
                 kelvane::SpecialTargets special = kelvane::SpecialTargets::WriteThrough);

// The same into a file already prepared (standard output, say), closing it at the end.
void ExportStore(kelvane::OutputFile& file);

}  // namespace smf
