// libFuzzer target for the Standard MIDI File reader, differential: a plain model of the format's
// rules, written for reading rather than speed, runs beside the reader, and both must agree on
// whether the file is malformed and where, and else on every message, its kind, time, track and
// bytes, in order. Every 256th input also goes through a real file and the loader into the store.
//
// Input: the file, its first four bytes replaced by "MThd"; the input's size picks the longest
// stored length (8 to 71 bytes) so that messages too long for it are met often.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "sysex/SmfReader.h"
#include "FuzzCheck.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Bad {
    std::uint64_t offset;
};

struct ModelMessage {
    sysex::SmfMessageKind kind;
    std::uint64_t time;
    std::uint32_t track;
    Bytes bytes;  // Whole: F0 ... F7
};

struct Model {
    bool malformed = false;  // the header already breaks the format: nothing is read
    bool damaged = false;    // broken further on: the messages complete before it are read
    std::uint64_t offset = 0;
    std::vector<ModelMessage> messages;
};

std::uint32_t Big(const Bytes& f, std::size_t at, int n) {
    std::uint32_t value = 0;
    for (int i = 0; i < n; ++i) value = (value << 8) | f[at + i];
    return value;
}

std::uint32_t Vlq(const Bytes& f, std::size_t& p, std::size_t end, std::size_t event) {
    const std::size_t start = p;
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        if (p >= end) throw Bad{event};
        const std::uint8_t b = f[p++];
        value = (value << 7) | (b & 0x7F);
        if (b < 0x80) return value;
    }
    throw Bad{start};
}

void ModelTrack(const Bytes& f, std::size_t p, std::size_t end, std::uint32_t track, std::size_t maxLength,
                std::vector<ModelMessage>& out) {
    std::uint64_t time = 0;
    std::uint8_t running = 0;
    bool open = false;
    ModelMessage current{};
    auto cut = [&] {
        current.kind = sysex::SmfMessageKind::CutOff;
        current.bytes.clear();
        out.push_back(current);
        open = false;
    };
    auto begin = [&] {
        current = {sysex::SmfMessageKind::Whole, time, track, {0xF0}};
        open = true;
    };
    auto take = [&](std::uint8_t b) {
        if (!open) {
            if (b == 0xF0) begin();
            return;
        }
        if (b == 0xF7) {
            if (current.kind == sysex::SmfMessageKind::Whole) current.bytes.push_back(0xF7);
            else current.bytes.clear();
            out.push_back(current);
            open = false;
        } else if (current.kind == sysex::SmfMessageKind::Whole) {
            if (current.bytes.size() == maxLength) current.kind = sysex::SmfMessageKind::TooLong;
            else current.bytes.push_back(b);
        }
    };
    auto dataBytes = [&](std::uint8_t status, int already, std::size_t event) {
        const int count = ((status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0) ? 1 : 2;
        for (int i = already; i < count; ++i) {
            if (p >= end) throw Bad{event};
            if (f[p] >= 0x80) throw Bad{p};
            ++p;
        }
    };
    while (p < end) {
        const std::size_t event = p;
        time += Vlq(f, p, end, event);
        if (p >= end) throw Bad{event};
        const std::uint8_t status = f[p++];
        if (status < 0x80) {
            if (running == 0) throw Bad{p - 1};
            dataBytes(running, 1, event);
        } else if (status < 0xF0) {
            running = status;
            dataBytes(status, 0, event);
        } else if (status == 0xFF) {
            if (p >= end) throw Bad{event};
            const std::uint8_t type = f[p++];
            const std::uint32_t length = Vlq(f, p, end, event);
            if (length > end - p) throw Bad{event};
            if (type == 0x2F) break;
            p += length;
        } else if (status == 0xF0 || status == 0xF7) {
            const std::uint32_t length = Vlq(f, p, end, event);
            if (length > end - p) throw Bad{event};
            if (status == 0xF0) {
                if (open) cut();
                begin();
            }
            for (std::size_t i = p; i < p + length; ++i) take(f[i]);
            p += length;
        } else {
            throw Bad{p - 1};
        }
    }
    if (open) cut();
}

void ModelChunks(const Bytes& f, std::uint32_t headerLength, std::uint32_t declared, std::size_t maxLength,
                 std::vector<ModelMessage>& messages);

Model ModelRead(const Bytes& f, std::size_t maxLength) {
    Model model;
    try {
        if (f.size() < 8 || std::memcmp(f.data(), "MThd", 4) != 0) throw Bad{0};
        const std::uint32_t headerLength = Big(f, 4, 4);
        if (headerLength < 6) throw Bad{4};
        if (8 + std::uint64_t{headerLength} > f.size()) throw Bad{0};
        const std::uint32_t format = Big(f, 8, 2);
        const std::uint32_t declared = Big(f, 10, 2);
        if (format > 2) throw Bad{8};
        try {
            ModelChunks(f, headerLength, declared, maxLength, model.messages);
        } catch (const Bad& bad) {
            model.damaged = true;
            model.offset = bad.offset;
        }
        if (format != 2) {
            std::stable_sort(model.messages.begin(), model.messages.end(),
                             [](const ModelMessage& a, const ModelMessage& b) { return a.time < b.time; });
        }
    } catch (const Bad& bad) {
        model.malformed = true;
        model.offset = bad.offset;
        model.messages.clear();
    }
    return model;
}

// A broken track costs only itself (the next chunk is found by the lengths), a track cut by the
// end of the file keeps what is complete in it, and the first break is the one told.
void ModelChunks(const Bytes& f, std::uint32_t headerLength, std::uint32_t declared, std::size_t maxLength,
                 std::vector<ModelMessage>& messages) {
    std::optional<std::size_t> first;
    const auto note = [&first](std::size_t offset) {
        if (!first) first = offset;
    };
    std::uint32_t tracks = 0;
    std::size_t at = 8 + headerLength;
    bool stopped = false;
    while (at < f.size() && !stopped) {
        const bool missing = tracks < declared;
        if (f.size() - at < 8) {
            if (missing) {
                note(at);
                stopped = true;
            }
            break;
        }
        const bool isTrack = std::memcmp(&f[at], "MTrk", 4) == 0;
        const std::uint64_t end = at + 8 + std::uint64_t{Big(f, at + 4, 4)};
        if (end > f.size()) {
            if (isTrack) {
                try {
                    ModelTrack(f, at + 8, f.size(), tracks++, maxLength, messages);
                    note(f.size());
                } catch (const Bad& bad) {
                    note(bad.offset);
                }
            } else if (missing) {
                note(at);
            }
            stopped = true;
            break;
        }
        if (isTrack) {
            try {
                ModelTrack(f, at + 8, static_cast<std::size_t>(end), tracks++, maxLength, messages);
            } catch (const Bad& bad) {
                note(bad.offset);
            }
        }
        at = static_cast<std::size_t>(end);
    }
    if (!stopped && tracks < declared) note(f.size());
    if (first) throw Bad{*first};
}

void CompareWithReader(const Bytes& file, std::size_t maxLength) {
    const Model model = ModelRead(file, maxLength);
    sysex::MemorySource source(file);
    sysex::SmfContents contents;
    try {
        contents = sysex::ReadSmf(source, maxLength);
    } catch (const sysex::MalformedSmf& malformed) {
        Check(model.malformed);
        Check(malformed.Offset() == model.offset);
        return;
    }
    Check(!model.malformed);
    Check(contents.damaged == model.damaged);
    if (model.damaged) Check(contents.damagedAt == model.offset);
    Check(contents.messages.size() == model.messages.size());
    for (std::size_t k = 0; k < model.messages.size(); ++k) {
        const sysex::SmfMessage& got = contents.messages[k];
        const ModelMessage& want = model.messages[k];
        Check(got.kind == want.kind);
        Check(got.time == want.time);
        Check(got.track == want.track);
        if (got.kind != sysex::SmfMessageKind::Whole) continue;
        Bytes bytes;
        for (std::size_t p = 0; p < got.pieceCount; ++p) {
            const sysex::SmfPiece& piece = contents.pieces[got.firstPiece + p];
            Check(piece.offset + piece.size <= file.size());
            bytes.insert(bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(piece.offset),
                         file.begin() + static_cast<std::ptrdiff_t>(piece.offset + piece.size));
        }
        Check(bytes == want.bytes);
        Check(got.length == bytes.size());
    }
}

// The loader on a real file: the store must hold the model's whole messages, and the counts must
// say what was left out.
void CompareWithLoader(const Bytes& file) {
    const Model model = ModelRead(file, 0xFFFFFFFE);
    static const std::string path = std::string(std::getenv("TMPDIR") && *std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                                    "/kelvane-fuzz-smf-" + std::to_string(::getpid()) + ".mid";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
        Check(static_cast<bool>(out));
    }
    sysex::SysExCount = 0;
    sysex::ScanResult result;
    try {
        result = sysex::LoadDumpFile(path);
    } catch (const kelvane::Failure&) {
        Check(model.malformed);
        Check(sysex::SysExCount == 0);
        return;
    }
    Check(!model.malformed);
    std::int32_t stored = 0, cutOff = 0;
    for (const ModelMessage& message : model.messages) {
        if (message.kind == sysex::SmfMessageKind::CutOff) {
            ++cutOff;
        } else {
            Check(stored < sysex::SysExCount);
            const sysex::MessageBytes got = sysex::MessageAt(stored);
            Check(got.size() == message.bytes.size());
            Check(std::memcmp(got.data(), message.bytes.data(), message.bytes.size()) == 0);
            ++stored;
        }
    }
    Check(result.stored == stored && sysex::SysExCount == stored);
    Check(result.droppedTooLong == 0 && result.droppedCutOff == cutOff && !result.stoppedOutOfMemory);
    Check(result.damaged == model.damaged);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes file(data, data + size);
    if (file.size() < 4) file.resize(4);
    std::memcpy(file.data(), "MThd", 4);
    CompareWithReader(file, 8 + size % 64);
    static unsigned long inputs = 0;
    if (inputs++ % 256 == 0) CompareWithLoader(file);
    return 0;
}
