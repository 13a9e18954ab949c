// Putting checksums right in a file's own bytes: only the checksum byte of each message judged
// wrong changes; everything else in the file stays byte for byte.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Messages.h"
#include "sysex/FileFix.h"

namespace {

using testsupport::Bytes;
using testsupport::Concat;

const Bytes kGsGood{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
const Bytes kGsBad{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x4F, 0xF7};
// Resembles Roland's form but names device 30H: no verdict, so never changed.
const Bytes kJuno{0xF0, 0x41, 0x30, 0x01, 0x12, 0x10, 0x20, 0x30, 0x40, 0x55, 0xF7};

Bytes Text(const std::string& text) { return {text.begin(), text.end()}; }

Bytes Big32(std::size_t n) {
    return {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
            static_cast<std::uint8_t>(n)};
}
Bytes Little32(std::size_t n) {
    return {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n >> 16),
            static_cast<std::uint8_t>(n >> 24)};
}

// Format 0 with GS Reset split over two packets (the checksum in the second), a note between,
// then a wrong GS Reset whole.
Bytes SmfWithSplitMessage(bool secondWrong) {
    const Bytes events = Concat({{0x00, 0xF0, 0x05, 0x41, 0x10, 0x42, 0x12, 0x40},
                                 {0x00, 0x90, 0x3C, 0x40},
                                 {0x00, 0xF7, 0x05, 0x00, 0x7F, 0x00, secondWrong ? std::uint8_t{0x11} : std::uint8_t{0x41}, 0xF7},
                                 {0x00, 0xF0, 0x0A}, Bytes(kGsBad.begin() + 1, kGsBad.end()),
                                 {0x00, 0xFF, 0x2F, 0x00}});
    return Concat({Text("MThd"), Big32(6), {0, 0, 0, 1, 0, 0x30}, Text("MTrk"), Big32(events.size()), events});
}

Bytes Rmid(const Bytes& smf) {
    const Bytes data = Concat({Text("data"), Little32(smf.size()), smf});
    return Concat({Text("RIFF"), Little32(4 + data.size()), Text("RMID"), data});
}

struct FixCase {
    const char* name;
    Bytes file;
    std::vector<std::size_t> changed;  // offsets of the bytes that change
    std::size_t fixed;
};

std::vector<FixCase> Cases() {
    // 1,200 messages, the 1,001st and the 1,100th wrong, after a text header, with active sensing
    // between some, a 70,000-byte message without checksum, and a message cut off at the end.
    std::vector<Bytes> parts{Text("dump v1\n")};
    std::vector<std::size_t> changed;
    std::size_t at = parts[0].size();
    for (int k = 0; k < 1200; ++k) {
        const bool wrong = k == 1000 || k == 1099;
        const Bytes& m = k == 3 ? testsupport::FilledMessage(70001, 0x12) : k == 5 ? kJuno : wrong ? kGsBad : kGsGood;
        if (wrong) changed.push_back(at + m.size() - 2);
        parts.push_back(m);
        // Active sensing between some of them; others follow one another directly.
        if (k % 2 == 0) parts.push_back({0xFE});
        at += m.size() + (k % 2 == 0 ? 1 : 0);
    }
    parts.push_back({0xF0, 0x41, 0x10, 0x42, 0x12});
    const Bytes smf = SmfWithSplitMessage(true);
    // Where the checksums lie: split one in the second packet, the whole one at its place.
    const std::size_t split = 22 + 8 + 4 + 6;
    const std::size_t whole = split + 2 + 3 + 8;
    return {
        {"raw dump with everything around", Concat(parts), changed, 2},
        {"nothing wrong: the same bytes", Concat({Text("x"), kGsGood, kJuno, {0x00}}), {}, 0},
        {"SMF with a message over two packets", smf, {split, whole}, 2},
        {"RMID", Rmid(smf), {split + 20, whole + 20}, 2},
    };
}

TEST(FixChecksumsInFile, ChangesOnlyTheWrongChecksumBytes) {
    for (const FixCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        const sysex::FixedBytes result = sysex::FixChecksumsInFile(c.file);
        EXPECT_EQ(result.fixed, c.fixed);
        ASSERT_EQ(result.bytes.size(), c.file.size());
        std::vector<std::size_t> differ;
        for (std::size_t i = 0; i < c.file.size(); ++i) {
            if (result.bytes[i] != c.file[i]) differ.push_back(i);
        }
        EXPECT_EQ(differ, c.changed);
        for (const std::size_t i : c.changed) EXPECT_EQ(result.bytes[i], 0x41) << i;
    }
}

}  // namespace
