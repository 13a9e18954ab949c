#pragma once
// JSON string literals for the --json documents. Names and texts are UTF-8 already; a device
// name from the platform may not be, and a JSON document must be, so broken sequences become
// U+FFFD instead of passing through.

#include <string>
#include <string_view>

namespace cli {

// The text as a quoted JSON string: '"' and '\' escaped, control characters below 0x20 as
// \b \f \n \r \t or \u00XX, valid UTF-8 unchanged, each byte of an invalid sequence as U+FFFD.
std::string JsonString(std::string_view text);

}  // namespace cli
