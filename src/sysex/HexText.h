#pragma once
// Messages as hexadecimal text, as a user copies them out of the window, pastes them in from a
// forum post or a manual, and edits one of them: bytes of two upper-case digits separated by
// spaces ("F0 7D 03 03 F7"), one message a line.
//
// Read back, a byte may be written in either case, with "0x" before it or "H" after it, and
// separated from the next by any spacing, commas or other punctuation, over several lines; a
// run of digits without spaces ("F07D0303F7") is read two digits a byte. Messages are found
// in the bytes as the loader finds them in a dump: from an F0 to the next F7, with whatever lies
// between them kept; outside a message anything, words included, is passed over. Inside a
// message a word that is not a byte refuses the whole text, so a stray word never becomes a
// byte of a message. No Qt; pure functions.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sysex/StoreEdit.h"

namespace sysex {

// "F0 7D 03 03 F7"; with bytesPerLine > 0, a line break after every bytesPerLine bytes.
std::string HexText(MessageBytes message, std::size_t bytesPerLine = 0);

// The messages `which` of a list, one a line, lines ending in "\n" but the last.
std::string HexLines(const MessageList& messages, const std::vector<std::int32_t>& which);

struct PastedMessages {
    PackedMessages messages;
    std::int32_t unterminated = 0;  // a message at the end without its F7, left out
    std::string problem;            // why nothing can be pasted; empty when messages were found
};

// The messages of clipboard text. Its `problem` (in Japanese) names what is wrong when the
// text holds no complete message or a word inside a message.
PastedMessages PastedMessagesFromText(std::string_view text);

// What the user is told of a message left out at the end; empty when none was.
std::string PastedNotice(const PastedMessages& pasted);

struct EditedMessage {
    std::vector<std::uint8_t> bytes;
    std::string problem;  // why the text is not exactly one message; empty when it is
};

// Exactly one message, F0 first, F7 last and nowhere else, and nothing around it.
EditedMessage OneMessageFromText(std::string_view text);

}  // namespace sysex
