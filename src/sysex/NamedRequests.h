#pragma once
// Dump requests by name: one table of the messages that make an instrument send its data, each
// row with the public document it follows. A row's form lists its bytes, with its parameters in
// braces:
//   F0 7E         literal bytes, hexadecimal
//   {device}      a parameter that is a whole byte
//   3{channel}    a fixed high nibble and a parameter of four bits
//   {sample.lsb} {sample.msb}   a 14-bit parameter, least significant byte first
//   {address}     a parameter of one to four bytes, as many as typed
//   ( ... {sum}   Roland's checksum of the bytes from "(" up to it
// A parameter's value is read as every number is (sysex/NumberText.h): "10H" and "0x10" are
// hexadecimal; a bare value is read in the base the row's document writes it in, which the row
// says: patch numbers and channels as the manual counts them, in decimal and in the manual's own
// numbering (a Matrix-1000 patch 0-99, a channel 1-16); addresses, sizes, model and device IDs
// in hexadecimal as Roland writes them ("400000"). Pure; any thread.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sysex/NumberText.h"

namespace sysex {

enum class ParameterKind {
    Byte,    // one byte, low..high
    Nibble,  // the low four bits of a byte, low..high
    Word14,  // two bytes, LSB first, low..high
    Bytes,   // low..high bytes, each a data byte (00H-7FH)
};

struct RequestParameter {
    std::string name;        // as typed: "device", "channel", "bank", "program", "address", "size"
    std::string meaning;     // its label in the UI's language: "MIDI チャンネル", "パッチ番号"
    ParameterKind kind = ParameterKind::Byte;
    std::uint32_t low = 0;   // the range of the value in the message; for Bytes the number of bytes
    std::uint32_t high = 0x7F;
    std::optional<std::uint32_t> byDefault;  // none: the parameter must be given
    std::vector<std::uint32_t> choices;      // when not empty, only these values
    Numbering numbering = Numbering::Hex;    // how its document writes it, so how a bare value reads
    std::uint32_t first = 0;                 // the number a person gives the value 0 (1: channels 1-16)
};

struct NamedRequest {
    std::string name;          // "roland-rq1"
    std::string manufacturer;  // as the makers table names the form's ID (filled in from it)
    std::string title;         // short English name for a message's meaning, "Roland RQ1"
    std::string description;   // in the UI's language
    std::string form;          // the bytes, as described above
    std::vector<RequestParameter> parameters;
    bool sameWidth = false;    // the Bytes parameters must have the same number of bytes
    std::string source;        // the public document and where it was read
};

const std::vector<NamedRequest>& NamedRequests();

// The row of that name; nullptr when there is none.
const NamedRequest* FindNamedRequest(std::string_view name);

// The range in the parameter's own numbering, as its help and its errors show it: "00H-1FH",
// "0000H-3FFFH", "1-16", "0-99", "1-4 バイト (各 00H-7FH)", "00H, 20H, 40H".
std::string ParameterRangeText(const RequestParameter& parameter);

// A value of the message in the parameter's own numbering: "10H", "6" (channel byte 5), "99".
std::string ParameterValueText(const RequestParameter& parameter, std::uint32_t value);

struct BuiltRequest {
    std::vector<std::uint8_t> bytes;  // F0 through F7; empty when there is a problem
    std::string problem;              // in the UI's language; empty when built
};

// Builds the request from "name=value" assignments. A problem names the parameter and its range
// (a value outside it, a parameter the request has not, one given twice or not at all).
BuiltRequest BuildNamedRequest(const NamedRequest& request, const std::vector<std::pair<std::string, std::string>>& values);

// The same from "name=value" texts as typed on a command line.
BuiltRequest BuildNamedRequest(std::string_view name, const std::vector<std::string>& assignments);

// What a message is when it is one of the table's requests: "Roland RQ1 address 40H 00H 00H,
// size 7FH (127 bytes)", "KORG M1 Program Parameter Dump Request (channel 1)". Nothing when no
// row's form fits.
std::optional<std::string> NamedRequestMeaning(std::span<const std::uint8_t> message);

}  // namespace sysex
