#pragma once
// The one way core code reports that an operation could not be done. The text is what the
// user reads (UTF-8, in the UI's language); front ends show it and carry on.

#include <stdexcept>
#include <string>

namespace kelvane {

class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& message) : std::runtime_error(message) {}
};

// The text a failure display shows for a failure's message: "." is appended when the last
// character's code point lies above '.' (0x2E), so Japanese sentences get a full stop while
// texts ending in ")" or "." keep their own ending. An empty message stays empty. Invalid
// UTF-8 at the end is judged by its last byte, which is always above 0x2E.
std::string FailureDisplayText(const std::string& message);

// Replaces the first "%s" in a message pattern; the patterns are the system's own texts.
std::string FormatText(const std::string& pattern, const std::string& value);

}  // namespace kelvane
