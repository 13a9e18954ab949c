#pragma once
// The text form the file store keeps registry keys in: the format regedit exports and imports
// ("Windows Registry Editor Version 5.00", [key] sections, "name"=data lines), in UTF-8, or in
// UTF-16LE with its byte-order mark as regedit itself writes it; a file is written back in the
// encoding it was read in.
//
// Data forms, chosen so that every type and size comes back exactly:
//   "name"="text"          REG_SZ whose bytes are UTF-8 text without control characters,
//                          ending in its one NUL (\ and " escaped with \)
//   "name"=dword:0000000a  REG_DWORD of exactly 4 bytes (little-endian)
//   "name"=hex:0a,ff       REG_BINARY; "hex:" alone for no bytes
//   "name"=hex(N):..       every other type N (hexadecimal), and REG_SZ / REG_DWORD values
//                          that the forms above cannot carry exactly
//   @=...                  the unnamed (default) value
// Long hex data is wrapped as regedit does ("," then "\" at the line end, two spaces before the
// next line). Comments (";"), blank lines, other keys and other values are kept line by line,
// so whatever a change does not touch is written back as it was read. A value line that cannot be
// read (bad hex, an unknown escape, a deletion "name"=-) is kept as it was too, and makes that
// one value absent, as the registry would have none after importing it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/RegistryStore.h"

namespace settings {

struct RegValue {
    std::string name;
    RegType type = RegNone;
    std::vector<std::uint8_t> data;
};

// One logical line after the header: a section header, a value (possibly wrapped over several
// physical lines) or anything else that carries no data (blank, comment).
struct RegLine {
    // Unreadable: a value line whose data cannot be read; it hides any earlier value of its name.
    enum class Kind { Other, Section, Value, Unreadable };
    Kind kind = Kind::Other;
    std::vector<std::string> physical;  // as read or as formatted, without line endings
    std::string keyPath;                // Section: the text between the brackets
    RegValue value;                     // Value; Unreadable: only the name
};

enum class RegEncoding { Utf8, Utf16Le };

struct RegDocument {
    std::string header = "Windows Registry Editor Version 5.00";
    std::vector<RegLine> lines;
    std::string newline = "\n";  // "\r\n" when the file read used it
    bool byteOrderMark = false;  // always there in UTF-16LE
    RegEncoding encoding = RegEncoding::Utf8;
};

// Nothing when the text is not a registry file this store can keep exactly: no header, a line
// that is neither section, value, comment nor blank, a value before the first section, a key
// deletion ("[-key]"), or UTF-16 that is cut short or holds an unpaired surrogate.
std::optional<RegDocument> ParseRegText(std::string_view text);

// The file's bytes in the file's own encoding. In UTF-16LE, bytes of a name that are not UTF-8
// become U+FFFD (this store only writes names of its own, which are ASCII).
std::string FormatRegText(const RegDocument& document);

// The physical lines of one value in the forms above.
std::vector<std::string> FormatValueLines(const RegValue& value);

// Whether a name can be written at all: no NUL, CR or LF.
bool IsStorableName(std::string_view name);

// The value `name` of the key at `keyPath` ("HKEY_CURRENT_USER\..."); keys and names match
// without regard to ASCII case, and the last of duplicate entries wins as on import (an
// unreadable last one: nothing).
const RegValue* FindValue(const RegDocument& document, std::string_view keyPath, std::string_view name);

// Replaces the value in place (dropping duplicates and unreadable lines of its name) or adds it
// at the end of its key's last section, or appends a new section for the key when it has none.
void PutValue(RegDocument& document, std::string_view keyPath, const RegValue& value);

}  // namespace settings
