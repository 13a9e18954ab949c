// Messages as hexadecimal text: what a copy gives, which clipboard texts paste which messages,
// and which texts the hex editor refuses, and why.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Messages.h"
#include "sysex/HexText.h"

namespace {

using testsupport::Bytes;

TEST(HexText, CopiedMessagesAreOneALine) {
    const std::vector<Bytes> messages{{0xF0, 0x7D, 0x03, 0x03, 0xF7}, {0xF0, 0x0A, 0xF7}};
    const sysex::MessageList list{2, [&](std::int32_t k) { return sysex::MessageBytes(messages[static_cast<std::size_t>(k)]); }};
    EXPECT_EQ(sysex::HexLines(list, {1, 0}), "F0 0A F7\nF0 7D 03 03 F7");
    EXPECT_EQ(sysex::HexText(messages[0], 2), "F0 7D\n03 03\nF7");
}

std::vector<Bytes> Pasted(const sysex::PastedMessages& pasted) {
    std::vector<Bytes> messages;
    for (std::int32_t j = 0; j < pasted.messages.Count(); ++j) {
        const sysex::MessageBytes m = pasted.messages.At(j);
        messages.emplace_back(m.begin(), m.end());
    }
    return messages;
}

// What a clipboard text pastes, or why it pastes nothing (then nothing at all).
TEST(HexText, ClipboardTextsThatPasteAndThatAreRefused) {
    const Bytes gmOn{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    const std::string noMessage = "クリップボードのテキストには F0 で始まり F7 で終わるメッセージがありません";
    const std::string notHex = "クリップボードのテキストは貼り付けられません: ";
    const struct {
        const char* text;
        std::vector<Bytes> messages;
        int unterminated;
        std::string problem;
    } cases[] = {
        {"F0 7E 7F 09 01 F7", {gmOn}, 0, ""},
        {"f0 7e 7f 09 01 f7\n", {gmOn}, 0, ""},
        {"F0,7E,7F,09,01,F7", {gmOn}, 0, ""},
        {"{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};", {gmOn}, 0, ""},
        {"F0H 7EH 7FH 09H 01H F7H", {gmOn}, 0, ""},
        {"F07E7F0901F7", {gmOn}, 0, ""},
        {"F0 7E 7F\r\n  09 01\r\n F7", {gmOn}, 0, ""},
        {"0xF0 0x7E 0x7F 0x9 0x1 0xF7", {gmOn}, 0, ""},
        // Words and bytes outside a message are passed over, as a dump's are by the loader.
        {"GM System On: F0 7E 7F 09 01 F7 (reset)\nGS Reset: F0 41 10 42 12 40 00 7F 00 41 F7",
         {gmOn, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}}, 0, ""},
        {"F0 F7 F0 41 F0 42 F7", {{0xF0, 0xF7}, {0xF0, 0x41, 0xF0, 0x42, 0xF7}}, 0, ""},
        {"F0 7E 7F 09 01 F7 F0 43 10", {gmOn}, 1, ""},
        {"", {}, 0, noMessage},
        {"0003 8Byte", {}, 0, noMessage},
        {"F0 7E 7F 09 01", {}, 0, "クリップボードのテキストのメッセージは F7 で終わっていないため、貼り付けられません"},
        {"F0 7E 7F 09 01 F7\nF0 41 10 GS 42 F7", {}, 0, notHex + "2 行目の「GS」は 16 進のバイトではありません"},
        {"F0 7E 7F0 F7", {}, 0, notHex + "1 行目の「7F0」は 16 進のバイトではありません"},
        {"F0 0x7E7F F7", {}, 0, notHex + "1 行目の「0x7E7F」は 16 進のバイトではありません"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const sysex::PastedMessages pasted = sysex::PastedMessagesFromText(c.text);
        EXPECT_EQ(pasted.problem, c.problem);
        EXPECT_EQ(Pasted(pasted), c.messages);
        if (c.problem.empty()) {
            EXPECT_EQ(pasted.unterminated, c.unterminated);
        }
    }
}

TEST(HexText, TheHexEditorTakesExactlyOneMessage) {
    const struct {
        const char* text;
        Bytes bytes;
        const char* problem;
    } cases[] = {
        {"F0 7D 03\n03 F7", {0xF0, 0x7D, 0x03, 0x03, 0xF7}, ""},
        {"f0 f7", {0xF0, 0xF7}, ""},
        {"", {}, "16 進のバイトがありません"},
        {"7D 03 F7", {}, "メッセージは F0 で始めてください (最初のバイトが 7DH です)"},
        {"F0 7D 03", {}, "メッセージは F7 で終えてください"},
        {"F0 7D F7 F0 01 F7", {}, "F7 はメッセージの最後に 1 つだけ置いてください (ここで編集できるのは 1 メッセージです)"},
        {"F0 7D zz F7", {}, "「zz」は 16 進のバイトではありません"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const sysex::EditedMessage edited = sysex::OneMessageFromText(c.text);
        EXPECT_EQ(edited.problem, c.problem);
        if (edited.problem.empty()) {
            EXPECT_EQ(edited.bytes, c.bytes);
        }
    }
}

}  // namespace
