#pragma once
// The text form the file store keeps registry keys in: the format regedit exports and imports
// ("Windows Registry Editor Version 5.00", [key] sections, "name"=data lines), in UTF-8.
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
// so whatever a change does not touch is written back as it was read.

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
    enum class Kind { Other, Section, Value };
    Kind kind = Kind::Other;
    std::vector<std::string> physical;  // as read or as formatted, without line endings
    std::string keyPath;                // Section: the text between the brackets
    RegValue value;                     // Value
};

struct RegDocument {
    std::string header = "Windows Registry Editor Version 5.00";
    std::vector<RegLine> lines;
    std::string newline = "\n";  // "\r\n" when the file read used it
    bool byteOrderMark = false;
};

// Nothing when the text is not a registry file this store can keep exactly: no header, a line
// that is neither section, value, comment nor blank, bad escapes or hex, a value before the
// first section, or delete instructions ("[-key]", "name"=-).
std::optional<RegDocument> ParseRegText(std::string_view text);

std::string FormatRegText(const RegDocument& document);

// The physical lines of one value in the forms above.
std::vector<std::string> FormatValueLines(const RegValue& value);

// Whether a name can be written at all: no NUL, CR or LF.
bool IsStorableName(std::string_view name);

// The value `name` of the key at `keyPath` ("HKEY_CURRENT_USER\..."); keys and names match
// without regard to ASCII case, and the last of duplicate entries wins as on import.
const RegValue* FindValue(const RegDocument& document, std::string_view keyPath, std::string_view name);

// Replaces the value in place (dropping duplicates) or adds it at the end of its key's last
// section, or appends a new section for the key when it has none.
void PutValue(RegDocument& document, std::string_view keyPath, const RegValue& value);

}  // namespace settings
