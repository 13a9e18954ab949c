// The one UTF-8 reader: what counts as a character, and what each of its readers makes of
// bytes that are not one.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/Utf8.h"

namespace {

using kelvane::DecodeUtf8;
using kelvane::IsValidUtf8;
using kelvane::LastCodePoint;
using kelvane::Utf8CutShortAtEnd;

// Each text is one would-be character: its code point and length when it is one, else length 0.
TEST(Utf8, DecodesWellFormedCharactersAndNothingElse) {
    const struct {
        std::string bytes;
        char32_t code;
        std::size_t length;
    } cases[] = {
        {std::string("\0", 1), 0x00, 1},
        {"A", 0x41, 1},
        {"\x7F", 0x7F, 1},
        {"\xC2\x80", 0x80, 2},                 // smallest two-byte form
        {"\xDF\xBF", 0x7FF, 2},
        {"\xE0\xA0\x80", 0x800, 3},            // smallest three-byte form
        {"\xE3\x81\x82", 0x3042, 3},           // あ
        {"\xED\x9F\xBF", 0xD7FF, 3},           // just below the surrogates
        {"\xEE\x80\x80", 0xE000, 3},           // just above them
        {"\xEF\xBF\xBD", 0xFFFD, 3},
        {"\xF0\x90\x80\x80", 0x10000, 4},      // smallest four-byte form
        {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},     // the last code point
        {"\x80", 0, 0},                        // a continuation byte alone
        {"\xBF", 0, 0},
        {"\xC0\xAE", 0, 0},                    // overlong '.'
        {"\xC1\xBF", 0, 0},                    // overlong
        {"\xE0\x9F\xBF", 0, 0},                // overlong three-byte form
        {"\xF0\x8F\xBF\xBF", 0, 0},            // overlong four-byte form
        {"\xED\xA0\x80", 0, 0},                // surrogate D800
        {"\xED\xBF\xBF", 0, 0},                // surrogate DFFF
        {"\xF4\x90\x80\x80", 0, 0},            // above U+10FFFF
        {"\xF5\x80\x80\x80", 0, 0},
        {"\xFF", 0, 0},
        {"\xE3\x81", 0, 0},                    // cut short by the end of the text
        {"\xE3\x41\x82", 0, 0},                // cut short by an ASCII byte
        {"\xF0\x90\x80", 0, 0},
    };
    for (const auto& c : cases) {
        const kelvane::Utf8Char decoded = DecodeUtf8(c.bytes, 0);
        EXPECT_EQ(decoded.length, c.length) << testing::PrintToString(c.bytes);
        if (c.length != 0) {
            EXPECT_EQ(decoded.code, c.code) << testing::PrintToString(c.bytes);
        }
        EXPECT_EQ(IsValidUtf8(c.bytes), c.length != 0) << testing::PrintToString(c.bytes);
    }
}

TEST(Utf8, ReadsFromTheGivenOffsetAndValidatesWholeTexts) {
    const std::string text = "a\xE3\x81\x82z";
    EXPECT_EQ(DecodeUtf8(text, 1).code, 0x3042u);
    EXPECT_EQ(DecodeUtf8(text, 1).length, 3u);
    EXPECT_EQ(DecodeUtf8(text, 2).length, 0u);  // inside a character
    EXPECT_EQ(DecodeUtf8(text, 4).code, U'z');
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8(text));
    EXPECT_FALSE(IsValidUtf8(text + "\x80"));
    EXPECT_FALSE(IsValidUtf8("\xE3\x81" + std::string("z")));
}

TEST(Utf8, LastCodePointIsThatOfAWellFormedEndOnly) {
    const struct {
        std::string text;
        std::optional<char32_t> last;
    } cases[] = {
        {"", std::nullopt},
        {".", U'.'},
        {"abc)", U')'},
        {"開けません", 0x3093},
        {"x\xF0\x9F\x8E\xB9", 0x1F3B9},         // four bytes at the end
        {"\xE3\x81\x82\x82", std::nullopt},    // one continuation byte too many
        {"ab\xE3\x81", std::nullopt},          // cut short
        {"ab\xC0\xAE", std::nullopt},          // overlong '.'
        {"\xE3\x41", U'A'},                    // a stray lead byte before the last character
        {std::string("a\0", 2), 0x00},
    };
    for (const auto& c : cases) EXPECT_EQ(LastCodePoint(c.text), c.last) << testing::PrintToString(c.text);
}

// What a writer getting text in pieces holds back: only the start of a character that the next
// piece can complete, never a whole character nor bytes that no piece can make whole.
TEST(Utf8, CutShortAtEndIsOnlyACharacterThatMoreBytesCanComplete) {
    const struct {
        std::string text;
        std::size_t held;
    } cases[] = {
        {"", 0}, {"abc", 0}, {"開", 0}, {"\xF0\x9F\x8E\xB9", 0},                      // whole
        {"x\xE9\x96", 2}, {"x\xE9", 1}, {"\xF0\x9F\x8E", 3}, {"\xF0\x9F", 2}, {"\xC3", 1},  // starts
        {"\xE3\x81\x82\xE3\x81", 2},                                          // あ, then a start
        {"\x80", 0}, {"a\x80\x80\x80", 0},                                     // continuation bytes
        {"\xE0\x80", 0}, {"\xED\xA0", 0}, {"\xF4\x90", 0}, {"\xFF", 0},  // overlong, surrogate, > U+10FFFF
        {"\xE3\x41", 0},                                                     // cut short already
    };
    for (const auto& c : cases) EXPECT_EQ(Utf8CutShortAtEnd(c.text), c.held) << testing::PrintToString(c.text);
}

}  // namespace
