// Checksums by family, the window's summary of a whole store, and the makers' table.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Messages.h"
#include "sysex/Checksum.h"
#include "sysex/Loader.h"
#include "sysex/Manufacturers.h"
#include "sysex/Store.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using sysex::ChecksumState;

// F0 43 00 00 01 1B, 155 voice bytes, checksum, F7: a single-voice bulk dump as FM synthesizers
// of the 1980s send it; `sum` replaces the checksum when given.
Bytes VoiceDump(int sum = -1) {
    Bytes m{0xF0, 0x43, 0x00, 0x00, 0x01, 0x1B};
    unsigned total = 0;
    for (int i = 0; i < 155; ++i) {
        m.push_back(static_cast<std::uint8_t>(i * 5 % 100));
        total += m.back();
    }
    m.push_back(static_cast<std::uint8_t>(sum >= 0 ? sum : (0x80 - total % 0x80) % 0x80));
    m.push_back(0xF7);
    return m;
}

struct ChecksumCase {
    const char* what;
    Bytes message;
    ChecksumState state;
    std::uint8_t expected;
};

TEST(Checksum, RecognisesOnlyShapesWithoutDoubt) {
    const std::vector<ChecksumCase> cases{
        // Roland. GS Reset and Master Volume as songs for GS modules begin with them.
        {"GS Reset", {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}, ChecksumState::Correct, 0x41},
        {"GS Master Volume", {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x04, 0x7F, 0x3D, 0xF7}, ChecksumState::Correct, 0x3D},
        {"MT-32 reset", {0xF0, 0x41, 0x10, 0x16, 0x12, 0x7F, 0x00, 0x00, 0x00, 0x01, 0xF7}, ChecksumState::Correct, 0x01},
        {"GS Reset damaged", {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x42, 0xF7}, ChecksumState::Wrong, 0x41},
        {"Request Data 1", {0xF0, 0x41, 0x10, 0x42, 0x11, 0x40, 0x00, 0x00, 0x00, 0x00, 0x04, 0x3C, 0xF7}, ChecksumState::Correct, 0x3C},
        {"three-byte model ID, four-byte address",
         {0xF0, 0x41, 0x10, 0x00, 0x00, 0x64, 0x12, 0x18, 0x00, 0x00, 0x00, 0x05, 0x63, 0xF7}, ChecksumState::Correct, 0x63},
        {"model ID of zeros only", {0xF0, 0x41, 0x10, 0x00, 0x00, 0x00, 0x00, 0x12, 0x40, 0x00, 0x7F, 0x41, 0xF7}, ChecksumState::None, 0},
        {"handshake command", {0xF0, 0x41, 0x10, 0x42, 0x42, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}, ChecksumState::None, 0},
        {"too short to hold an address and data", {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x40, 0xF7}, ChecksumState::None, 0},
        // Roland's checksummed form numbers devices 00-1FH, 7FH for all; other device bytes
        // belong to forms without a checksum and get no verdict, right or wrong.
        {"device 1FH", {0xF0, 0x41, 0x1F, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x42, 0xF7}, ChecksumState::Wrong, 0x41},
        {"device 7FH", {0xF0, 0x41, 0x7F, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}, ChecksumState::Correct, 0x41},
        {"device 20H", {0xF0, 0x41, 0x20, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x42, 0xF7}, ChecksumState::None, 0},
        {"device 7EH", {0xF0, 0x41, 0x7E, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x42, 0xF7}, ChecksumState::None, 0},
        {"Juno-106 patch dump with a data byte 12H",
         {0xF0, 0x41, 0x30, 0x01, 0x12, 0x10, 0x20, 0x30, 0x40, 0x55, 0xF7}, ChecksumState::None, 0},
        {"status byte inside", {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x90, 0x7F, 0x00, 0x41, 0xF7}, ChecksumState::None, 0},
        // Yamaha.
        {"single-voice bulk dump", VoiceDump(), ChecksumState::Correct, VoiceDump().end()[-2]},
        {"single-voice bulk dump damaged", VoiceDump(0x05), ChecksumState::Wrong, VoiceDump().end()[-2]},
        {"XG bulk dump", {0xF0, 0x43, 0x00, 0x4C, 0x00, 0x01, 0x02, 0x01, 0x00, 0x40, 0x3C, 0xF7}, ChecksumState::Correct, 0x3C},
        {"XG System On: a parameter change", {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}, ChecksumState::None, 0},
        {"byte count not the data's length", {0xF0, 0x43, 0x00, 0x09, 0x00, 0x05, 0x01, 0x02, 0x7D, 0xF7}, ChecksumState::None, 0},
        // Others, as songs in Debian's mma package open with them: no checksum.
        {"GM System On", {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, ChecksumState::None, 0},
        {"Master Volume", {0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x65, 0x2C, 0xF7}, ChecksumState::None, 0},
    };
    for (const ChecksumCase& c : cases) {
        SCOPED_TRACE(c.what);
        const auto verdict = sysex::CheckChecksum(c.message.data(), c.message.size());
        EXPECT_EQ(verdict.state, c.state);
        if (c.state == ChecksumState::None) {
            Bytes untouched = c.message;
            EXPECT_FALSE(sysex::FixChecksum(untouched.data(), untouched.size()));
            EXPECT_EQ(untouched, c.message);
            continue;
        }
        EXPECT_EQ(verdict.expected, c.expected);
        Bytes fixed = c.message;
        EXPECT_EQ(sysex::FixChecksum(fixed.data(), fixed.size()), c.state == ChecksumState::Wrong);
        EXPECT_EQ(sysex::CheckChecksum(fixed.data(), fixed.size()).state, ChecksumState::Correct);
        EXPECT_EQ(fixed.end()[-2], c.expected);
    }
}

void Store(const std::vector<Bytes>& messages) {
    sysex::SysExCount = static_cast<std::int32_t>(messages.size());
    for (std::size_t k = 0; k < messages.size(); ++k) {
        std::copy(messages[k].begin(), messages[k].end(), sysex::SysExData[k]);
        sysex::SysExLen[k] = static_cast<std::uint16_t>(messages[k].size() - 1);
    }
}

TEST(ChecksumSummary, SaysWhatIsWrongOrThatNothingIs) {
    const Bytes good{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    const Bytes bad{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x40, 0xF7};
    const Bytes none{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    Store({none, none});
    EXPECT_EQ(sysex::ChecksumSummary(sysex::CheckStore()), "2 件中 チェックサムのわかるメッセージはありません");
    Store({good, none, good});
    EXPECT_EQ(sysex::ChecksumSummary(sysex::CheckStore()), "3 件中 チェックサムのわかる 2 件はすべて正常です");
    std::vector<Bytes> many(24, bad);
    many[1] = good;
    Store(many);
    EXPECT_EQ(sysex::ChecksumSummary(sysex::CheckStore()),
              "24 件中 不一致 23 件: 0001, 0003, 0004, 0005, 0006, 0007, 0008, 0009, 0010, 0011, 0012, 0013, 0014, "
              "0015, 0016, 0017, 0018, 0019, 0020, 0021 ほか 3 件");
    // Beyond the static block too.
    std::vector<Bytes> beyond(1200, good);
    beyond[1099] = bad;
    const Bytes file = testsupport::Concat(beyond);
    sysex::ScanDump(file.data(), file.size());
    EXPECT_EQ(sysex::ChecksumSummary(sysex::CheckStore()), "1200 件中 不一致 1 件: 1100");
    EXPECT_EQ(sysex::WrongChecksumsInStore(), std::vector<std::size_t>{1099});
}

TEST(Manufacturers, NameOneAndThreeByteIds) {
    const struct {
        Bytes message;
        const char* name;  // nullptr: not known
    } cases[] = {
        {{0xF0, 0x41, 0x10, 0xF7}, "Roland Corporation"}, {{0xF0, 0x01, 0xF7}, "Sequential Circuits"},
        {{0xF0, 0x7E, 0x7F, 0xF7}, "Universal Non-Real Time"},
        {{0xF0, 0x00, 0x20, 0x29, 0x01, 0xF7}, "Focusrite/Novation"}, {{0xF0, 0x00, 0x21, 0x09, 0xF7}, "Native Instruments"},
        {{0xF0, 0x00, 0x00, 0x0E, 0x01, 0xF7}, "Alesis Studio Electronics"}, {{0xF0, 0x00, 0x7F, 0x7F, 0xF7}, nullptr},
        {{0xF0, 0x00, 0x20, 0xF7}, nullptr}, {{0xF0, 0xF7}, nullptr},  // an ID that runs into the F7; F7 is no ID
    };
    for (const auto& c : cases) {
        const auto name = sysex::ManufacturerName(c.message.data(), c.message.size());
        if (c.name) {
            EXPECT_EQ(name.value_or("(none)"), c.name);
        } else {
            EXPECT_FALSE(name.has_value()) << *name;
        }
    }
}

}  // namespace
