// The helpers other tests rely on to see faults: a message pattern that shows a moved block,
// end markers that are never taken for an earlier one, and files read back whole.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <stdexcept>

#include "Files.h"
#include "Messages.h"
#include "TempDir.h"

namespace {

using testsupport::Bytes;

TEST(PatternMessage, IsFramedSevenBitAndShowsAMovedOrDoubledBlock) {
    const Bytes message = testsupport::PatternMessage(65536, 3);
    ASSERT_EQ(message.size(), 65536u);
    EXPECT_EQ(message.front(), 0xF0);
    EXPECT_EQ(message.back(), 0xF7);
    EXPECT_TRUE(std::all_of(message.begin() + 1, message.end() - 1, [](std::uint8_t b) { return b < 0x80; }));
    // Blocks of 128 data bytes (the size transports split at) are never the same twice in a row,
    // nor is any message the same as one of another seed.
    for (std::size_t at = 1; at + 256 < message.size(); at += 128) {
        EXPECT_FALSE(std::equal(message.begin() + at, message.begin() + at + 128, message.begin() + at + 128))
            << "block at " << at;
    }
    const Bytes other = testsupport::PatternMessage(65536, 4);
    for (std::size_t i = 1; i + 1 < message.size(); ++i) ASSERT_NE(message[i], other[i]) << "byte " << i;
    EXPECT_EQ(testsupport::PatternMessage(2, 9), (Bytes{0xF0, 0xF7}));
}

TEST(FilledMessage, RepeatsItsByteBetweenF0AndF7) {
    EXPECT_EQ(testsupport::FilledMessage(5, 0x11), (Bytes{0xF0, 0x11, 0x11, 0x11, 0xF7}));
    EXPECT_THROW(testsupport::FilledMessage(1, 0x11), std::invalid_argument);
}

TEST(Concat, JoinsInOrder) {
    EXPECT_EQ(testsupport::Concat({{0xF0, 0xF7}, {}, {0x01}}), (Bytes{0xF0, 0xF7, 0x01}));
}

TEST(EndMarker, EachIsNewAndOnlyTheLastArrivalCounts) {
    std::set<Bytes> seen;
    for (int i = 0; i < 300; ++i) EXPECT_TRUE(seen.insert(testsupport::NewEndMarker()).second);
    const Bytes first = testsupport::NewEndMarker();
    const Bytes second = testsupport::NewEndMarker();
    const Bytes message{0xF0, 0x01, 0xF7};
    const struct {
        const char* what;
        Bytes received;
        std::optional<Bytes> before;
    } cases[] = {
        {"nothing yet", {}, std::nullopt},
        {"only the earlier marker", testsupport::Concat({message, first}), std::nullopt},
        {"more after the marker", testsupport::Concat({message, second, message}), std::nullopt},
        {"the marker last", testsupport::Concat({message, first, message, second}),
         testsupport::Concat({message, first, message})},
        {"the marker alone", second, Bytes{}},
    };
    for (const auto& c : cases) EXPECT_EQ(testsupport::BeforeEndMarker(c.received, second), c.before) << c.what;
}

TEST(ReadAll, GivesBackWhatWasWrittenAndThrowsForAMissingFile) {
    testsupport::TempDir dir;
    const Bytes bytes = testsupport::PatternMessage(70000, 1);
    EXPECT_EQ(testsupport::ReadAll(dir.Write("a.syx", bytes)), bytes);
    EXPECT_EQ(testsupport::ReadText(dir.Write("b.txt", {'o', 'k', '\n'})), "ok\n");
    EXPECT_THROW(testsupport::ReadAll(dir.File("missing")), std::runtime_error);
}

}  // namespace
