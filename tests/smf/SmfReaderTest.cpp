// Opening Standard MIDI Files through the loader: the shapes such files take, what a broken one
// is told as, and that every store the writer saves comes back the same.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "TempDir.h"
#include "common/Failure.h"
#include "smf/SmfWriter.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Chunk(const char* type, const Bytes& body) {
    Bytes chunk(type, type + 4);
    const auto n = static_cast<std::uint32_t>(body.size());
    for (int shift : {24, 16, 8, 0}) chunk.push_back(static_cast<std::uint8_t>(n >> shift));
    chunk.insert(chunk.end(), body.begin(), body.end());
    return chunk;
}

// "MThd" (6 bytes: format, declared tracks, division 48), then the chunks.
Bytes Smf(std::uint8_t format, std::uint8_t declared, const std::vector<Bytes>& chunks) {
    Bytes file = Chunk("MThd", {0, format, 0, declared, 0, 0x30});
    for (const Bytes& chunk : chunks) file.insert(file.end(), chunk.begin(), chunk.end());
    return file;
}
Bytes Track(const Bytes& events) { return Chunk("MTrk", events); }

struct Shape {
    const char* what;
    Bytes file;
    std::vector<Bytes> messages;  // F0 ... F7, in store order
    std::int32_t cutOff = 0;
    std::string failure;  // what follows "(" in the failure text; empty when it loads
    std::string damage;   // "オフセット N: what" for a file that loads up to its damage
};

const Bytes kA{0xF0, 0x43, 0x10, 0xF7}, kB{0xF0, 0x41, 0x10, 0xF7}, kC{0xF0, 0x7E, 0xF7};
// Delta, F0, length, data: the events of kA, kB, kC.
Bytes EvA(std::uint8_t delta) { return {delta, 0xF0, 0x03, 0x43, 0x10, 0xF7}; }
Bytes EvB(std::uint8_t delta) { return {delta, 0xF0, 0x03, 0x41, 0x10, 0xF7}; }
Bytes EvC(std::uint8_t delta) { return {delta, 0xF0, 0x02, 0x7E, 0xF7}; }
Bytes Cat(std::vector<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}
Shape Loads(const char* what, Bytes file, std::vector<Bytes> messages, std::int32_t cutOff = 0) {
    return {what, std::move(file), std::move(messages), cutOff, "", ""};
}
Shape Fails(const char* what, Bytes file, std::string failure) { return {what, std::move(file), {}, 0, std::move(failure), ""}; }
Shape Damaged(const char* what, Bytes file, std::vector<Bytes> messages, std::string damage) {
    return {what, std::move(file), std::move(messages), 0, "", std::move(damage)};
}
Bytes Little32(std::size_t n) {
    return {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n >> 16),
            static_cast<std::uint8_t>(n >> 24)};
}
// A RIFF 'RMID' file: an odd-sized chunk (and its pad byte) before the 'data' chunk holding the SMF.
Bytes Rmid(const Bytes& smf) {
    const Bytes before = Cat({Bytes{'D', 'I', 'S', 'P'}, Little32(3), {1, 2, 3, 0}});
    const Bytes data = Cat({Bytes{'d', 'a', 't', 'a'}, Little32(smf.size()), smf});
    return Cat({Bytes{'R', 'I', 'F', 'F'}, Little32(4 + before.size() + data.size()), {'R', 'M', 'I', 'D'}, before, data});
}

// A MacBinary file: the 128-byte header (name "Song", type "Midi") before the data fork.
Bytes MacBinary(const Bytes& dataFork) {
    Bytes header(128, 0);
    header[1] = 4;
    for (int i = 0; i < 4; ++i) header[2 + i] = static_cast<std::uint8_t>("Song"[i]);
    for (int i = 0; i < 4; ++i) header[65 + i] = static_cast<std::uint8_t>("Midi"[i]);
    const auto n = static_cast<std::uint32_t>(dataFork.size());
    for (int i = 0; i < 4; ++i) header[83 + i] = static_cast<std::uint8_t>(n >> (24 - 8 * i));
    // The data fork padded to a multiple of 128 bytes, as the format pads it.
    Bytes file = Cat({header, dataFork});
    file.resize(128 + (dataFork.size() + 127) / 128 * 128, 0);
    return file;
}

std::vector<Shape> Shapes() {
    const Bytes t0 = Track(EvA(10));                   // A at tick 10
    const Bytes t1 = Track(Cat({EvB(5), EvC(5)}));     // B at 5, C at 10
    Bytes truncated = Smf(0, 1, {Track(EvA(0))});
    truncated.pop_back();
    return {
        Loads("format 0, one event", Smf(0, 1, {Track(Cat({EvA(0), {0x00, 0xFF, 0x2F, 0x00}}))}), {kA}),
        Loads("format 1: by time, equal times lower track first", Smf(1, 2, {t0, t1}), {kB, kA, kC}),
        Loads("format 2: track after track", Smf(2, 2, {t0, t1}), {kA, kB, kC}),
        Loads("running status across a meta event",
              Smf(0, 1, {Track(Cat({{0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x01, 0x01, 0x41, 0x00, 0x3C, 0x00}, EvC(0)}))}), {kC}),
        Loads("channel pressure takes one data byte", Smf(0, 1, {Track(Cat({{0x00, 0xD0, 0x40}, EvC(0)}))}), {kC}),
        Loads("split packets with a note between",
              Smf(0, 1, {Track({0x00, 0xF0, 0x02, 0x43, 0x10, 0x05, 0x90, 0x3C, 0x40, 0x10, 0xF7, 0x02, 0x4C, 0xF7})}),
              {{0xF0, 0x43, 0x10, 0x4C, 0xF7}}),
        Loads("escapes: a clock byte and a whole message",
              Smf(0, 1, {Track({0x00, 0xF7, 0x01, 0xF8, 0x00, 0xF7, 0x04, 0xF0, 0x41, 0x10, 0xF7})}), {kB}),
        Loads("a further F0 event cuts the open message off", Smf(0, 1, {Track(Cat({{0x00, 0xF0, 0x01, 0x43}, EvC(0)}))}), {kC}, 1),
        Loads("the end of its track cuts it off", Smf(1, 2, {Track({0x00, 0xF0, 0x01, 0x43}), Track(EvC(0))}), {kC}, 1),
        Loads("alien chunk skipped, zero padding after the tracks",
              Cat({Smf(0, 1, {Chunk("XYZW", {1, 2}), Track(EvA(0))}), {0, 0}}), {kA}),
        Loads("more tracks than declared: all read", Smf(1, 1, {t0, t1}), {kB, kA, kC}),
        Loads("RMID: the SMF in its data chunk", Rmid(Smf(0, 1, {Track(Cat({EvB(0), EvC(0)}))})), {kB, kC}),
        Loads("MacBinary: the SMF in the data fork after the 128-byte header, padding left out",
              MacBinary(Smf(1, 2, {t0, t1})), {kB, kA, kC}),
        Fails("header shorter than six bytes", Chunk("MThd", {0, 0, 0, 1}), "オフセット 4: MThd チャンクの長さが 6 未満です"),
        Fails("format 3", Smf(3, 1, {Track(EvA(0))}), "オフセット 8: 形式 3 の Standard MIDI File には対応していません"),
        // Damage past the header: the messages complete before it are kept.
        Damaged("fewer tracks than declared", Smf(1, 3, {t0, t1}), {kB, kA, kC},
                "オフセット 47: ヘッダーにあるトラック 3 個のうち 2 個しかありません"),
        Damaged("truncated chunk", truncated, {}, "オフセット 22: トラックがファイルの末尾で途切れています"),
        Damaged("format 1, second track cut inside its second message: both tracks' complete ones", [] {
                    Bytes file = Smf(1, 2, {Track(EvA(0)), Track(Cat({EvB(0), EvC(0)}))});
                    file.resize(file.size() - 3);
                    return file;
                }(),
                {kA, kB}, "オフセット 42: トラックがファイルの末尾で途切れています"),
        Damaged("format 0 cut inside a split message after two whole ones", [] {
                    Bytes file = Smf(0, 1, {Track(Cat({EvA(0), EvB(0), {0x00, 0xF0, 0x01, 0x43, 0x00, 0xF7, 0x02, 0x10, 0xF7}}))});
                    file.resize(file.size() - 2);
                    return file;
                }(),
                {kA, kB}, "オフセット 38: トラックがファイルの末尾で途切れています"),
        Damaged("MacBinary whose data fork is cut inside a track", MacBinary([] {
                    Bytes smf = Smf(0, 1, {Track(Cat({EvA(0), EvB(0)}))});
                    smf.resize(smf.size() - 1);
                    return smf;
                }()),
                {kA}, "オフセット 156: トラックがファイルの末尾で途切れています"),
        Damaged("a broken first track leaves the second one whole",
                Smf(1, 2, {Track(Cat({EvC(0), {0x00, 0xF2, 0x00, 0x00}})), Track(Cat({EvA(0), EvB(0)}))}), {kC, kA, kB},
                "オフセット 28: トラックにはないはずのステータス F2H があります"),
        Damaged("RMID whose SMF is cut short", [] {
                    Bytes smf = Smf(1, 2, {Track(EvA(0)), Track(EvB(0))});
                    smf.resize(smf.size() - 2);
                    return Rmid(smf);
                }(),
                {kA}, "オフセット 68: トラックがファイルの末尾で途切れています"),
        Damaged("event length beyond its chunk", Smf(0, 1, {Track(Cat({EvC(0), {0x00, 0xF0, 0x09, 0x43, 0xF7}}))}), {kC},
                "オフセット 27: イベントがトラックの末尾を越えています"),
        Damaged("running status without a status", Smf(0, 1, {Track({0x00, 0x3C, 0x40})}), {},
                "オフセット 23: ランニングステータスの前にステータスがありません"),
        Damaged("status that no track holds", Smf(0, 1, {Track({0x00, 0xF2, 0x00, 0x00})}), {},
                "オフセット 23: トラックにはないはずのステータス F2H があります"),
        Damaged("message open at the damage is lost with it", Smf(0, 1, {Track({0x00, 0xF0, 0x01, 0x43, 0x81, 0x81, 0x81, 0x81, 0x01})}), {},
                "オフセット 26: 可変長の数値が 4 バイトを超えています"),
    };
}

TEST(SmfShapes, LoadAsASequencerPlaysThemOrFailNamingTheOffset) {
    testsupport::TempDir dir;
    for (const Shape& shape : Shapes()) {
        SCOPED_TRACE(shape.what);
        sysex::ResetStoreForTests();
        sysex::ScanDump(kC.data(), kC.size());  // the store before: one message
        const std::string path = dir.Write("shape.mid", shape.file);
        if (!shape.failure.empty()) {
            try {
                sysex::LoadDumpFile(path);
                ADD_FAILURE() << "loaded";
            } catch (const kelvane::Failure& failure) {
                EXPECT_EQ(failure.what(), "ファイル " + path + " は Standard MIDI File として読めません (" + shape.failure + ")");
            }
            EXPECT_EQ(sysex::SysExCount, 1);  // unchanged
            continue;
        }
        const sysex::ScanResult result = sysex::LoadDumpFile(path);
        EXPECT_EQ(result.droppedCutOff, shape.cutOff);
        EXPECT_EQ(result.damaged ? "オフセット " + std::to_string(result.damagedAt) + ": " + result.damage : "", shape.damage);
        if (result.damaged) {
            EXPECT_NE(sysex::DroppedNotice(result).find("オフセット " + std::to_string(result.damagedAt)), std::string::npos);
        }
        ASSERT_EQ(sysex::SysExCount, static_cast<std::int32_t>(shape.messages.size()));
        for (std::size_t k = 0; k < shape.messages.size(); ++k) {
            const auto stored = sysex::MessageAt(static_cast<std::int32_t>(k));
            EXPECT_EQ(Bytes(stored.begin(), stored.end()), shape.messages[k]) << "message " << k;
        }
    }
}

// Saves the store, loads the file back and compares every stored byte.
void ExpectRoundTrip(const testsupport::TempDir& dir) {
    const std::int32_t count = sysex::SysExCount;
    std::vector<Bytes> saved;
    for (int k = 0; k < count; ++k) saved.emplace_back(sysex::SysExData[k], sysex::SysExData[k] + sysex::SysExLen[k] + 1);
    const std::string path = dir.File("round.mid").string();
    smf::ExportStore(path);
    sysex::SysExCount = 0;
    const sysex::ScanResult result = sysex::LoadDumpFile(path);
    EXPECT_FALSE(result.DroppedAnything());
    ASSERT_EQ(sysex::SysExCount, count);
    for (int k = 0; k < count; ++k) {
        ASSERT_EQ(sysex::SysExLen[k] + 1u, saved[k].size()) << "message " << k;
        ASSERT_EQ(Bytes(sysex::SysExData[k], sysex::SysExData[k] + saved[k].size()), saved[k]) << "message " << k;
    }
}

TEST(SmfRoundTrip, EveryStoreTheWriterSavesLoadsBackTheSame) {
    testsupport::TempDir dir;
    std::mt19937 random(24);
    // Lengths at the edges of the length field's sizes and of the slot, and anything between;
    // data bytes are anything but F7, status bytes and F0 included.
    const std::vector<std::size_t> edges{1, 2, 127, 128, 129, 16383, 16384, 65534, 65535};
    for (int store = 0; store < 200; ++store) {
        sysex::SysExCount = 1 + static_cast<std::int32_t>(random() % 40);
        for (int k = 0; k < sysex::SysExCount; ++k) {
            const std::size_t length = random() % 4 == 0 ? edges[random() % edges.size()] : 1 + random() % 3000;
            sysex::SysExData[k][0] = 0xF0;
            for (std::size_t i = 1; i < length; ++i) {
                const auto byte = static_cast<std::uint8_t>(random());
                sysex::SysExData[k][i] = byte == 0xF7 ? 0xF0 : byte;
            }
            sysex::SysExData[k][length] = 0xF7;
            sysex::SysExLen[k] = static_cast<std::uint16_t>(length);
        }
        ExpectRoundTrip(dir);
        if (HasFatalFailure()) return;
    }
    // The largest store: 1000 messages of 65,535 stored bytes.
    for (int k = 0; k < sysex::MaxSysEx; ++k) {
        sysex::SysExData[k][0] = 0xF0;
        for (std::size_t i = 1; i < sysex::MaxStoredLength; ++i) sysex::SysExData[k][i] = static_cast<std::uint8_t>((k * 7 + i) % 0xF7);
        sysex::SysExData[k][sysex::MaxStoredLength] = 0xF7;
        sysex::SysExLen[k] = sysex::MaxStoredLength;
    }
    sysex::SysExCount = sysex::MaxSysEx;
    ExpectRoundTrip(dir);
}

}  // namespace
