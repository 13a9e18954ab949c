#pragma once
// Reading UTF-8 a character at a time. Only well-formed sequences count as characters: no
// overlong forms, no UTF-16 surrogates, nothing above U+10FFFF and no sequence cut short.
// Texts from files, devices and the platform may be anything, so every reader here takes
// arbitrary bytes and says what it could not read instead of guessing.

#include <cstddef>
#include <optional>
#include <string_view>

namespace kelvane {

struct Utf8Char {
    char32_t code = 0;
    std::size_t length = 0;  // bytes of the character, 1 to 4; 0 when no character starts here
};

// The character that starts at byte `at` of `text` (`at` < text.size()).
Utf8Char DecodeUtf8(std::string_view text, std::size_t at);

bool IsValidUtf8(std::string_view text);

// The code point of the text's last character; nothing when the text is empty or does not end
// in a well-formed character.
std::optional<char32_t> LastCodePoint(std::string_view text);

// How many bytes at the end of `text` (0 to 3) begin a well-formed character that more bytes
// could still complete: a writer that gets text in pieces holds these back for the next piece.
std::size_t Utf8CutShortAtEnd(std::string_view text);

}  // namespace kelvane
