#include "sysex/SmfReader.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace sysex {

namespace {

constexpr std::uint8_t kF0 = 0xF0;
constexpr std::uint8_t kF7 = 0xF7;
// Large enough that the system calls cost nothing beside the scanning, small enough to stay in
// cache; meta events and chunks that are skipped are never read at all.
constexpr std::size_t kReadBlockSize = std::size_t{1} << 20;
// An event that runs past the end of its track (or of a file that cuts the track).
constexpr char kPastTrackEnd[] = "イベントがトラックの末尾を越えています";

std::string Hex2(std::uint8_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[value >> 4], kDigits[value & 0x0F]};
}

// Reading forward through the file with the occasional jump, from a buffer of its own or
// straight from memory.
class Cursor {
public:
    explicit Cursor(ByteSource& source) : source_(source), size_(source.Size()) {
        const auto whole = source.InMemory();
        if (!whole.empty()) {
            data_ = whole.data();
            start_ = 0;
            length_ = whole.size();
        } else {
            buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(kReadBlockSize);
        }
    }

    std::uint64_t Pos() const { return pos_; }
    std::uint64_t Size() const { return size_; }
    void Seek(std::uint64_t pos) { pos_ = pos; }

    // The bytes from the position on that are at hand (at least one, before `limit`).
    std::span<const std::uint8_t> Available(std::uint64_t limit) {
        if (pos_ < start_ || pos_ >= start_ + length_) Fill();
        const std::uint64_t end = std::min(start_ + length_, limit);
        return {data_ + (pos_ - start_), static_cast<std::size_t>(end - pos_)};
    }

    // One byte before `limit`, or MalformedSmf naming the offset where the structure began.
    std::uint8_t Byte(std::uint64_t limit, std::uint64_t structureAt, const char* reason) {
        if (pos_ >= limit) throw MalformedSmf(structureAt, reason);
        const std::uint8_t value = Available(limit)[0];
        ++pos_;
        return value;
    }

    std::uint32_t Big(int bytes, std::uint64_t at) {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) value = (value << 8) | Byte(size_, at, "ファイルが途中で終わっています");
        return value;
    }

    // A variable-length quantity of at most four bytes.
    std::uint32_t Vlq(std::uint64_t limit, std::uint64_t eventAt) {
        const std::uint64_t at = pos_;
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const std::uint8_t byte = Byte(limit, eventAt, kPastTrackEnd);
            value = (value << 7) | (byte & 0x7F);
            if (byte < 0x80) return value;
        }
        throw MalformedSmf(at, "可変長の数値が 4 バイトを超えています");
    }

private:
    void Fill() {
        // Past the end, or outside the bytes a memory source holds: callers never ask for either.
        if (pos_ >= size_ || !buffer_) throw MalformedSmf(pos_, "ファイルが途中で終わっています");
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kReadBlockSize, size_ - pos_));
        std::size_t got = 0;
        while (got < want) {
            const std::size_t n = source_.ReadAt(pos_ + got, buffer_.get() + got, want - got);
            if (n == 0) break;
            got += n;
        }
        // The file has shrunk since its size was taken.
        if (got == 0) throw MalformedSmf(pos_, "ファイルが途中で終わっています");
        data_ = buffer_.get();
        start_ = pos_;
        length_ = got;
    }

    ByteSource& source_;
    std::uint64_t size_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    const std::uint8_t* data_ = nullptr;
    std::uint64_t start_ = 0;   // file offset of data_[0]
    std::uint64_t length_ = 0;  // bytes at data_
    std::uint64_t pos_ = 0;
};

// Collects the messages of one file, track by track.
class Collector {
public:
    Collector(SmfContents& out, std::size_t maxStoredLength) : out_(out), maxStoredLength_(maxStoredLength) {}

    bool Open() const { return open_; }

    void Begin(std::uint64_t time, std::uint32_t track, std::uint64_t at) {
        CheckRoom();
        out_.messages.push_back({SmfMessageKind::Whole, time, track, 0, out_.pieces.size(), 0});
        open_ = true;
        Add(at, 1);
    }

    // Bytes of the open message, none of them its F7.
    void Add(std::uint64_t at, std::size_t size) {
        SmfMessage& message = out_.messages.back();
        if (message.kind == SmfMessageKind::TooLong) return;
        if (size > maxStoredLength_ - message.length) {
            message.kind = SmfMessageKind::TooLong;
            out_.pieces.resize(message.firstPiece);
            message.pieceCount = 0;
            return;
        }
        Append(message, at, size);
    }

    void End(std::uint64_t f7At) {
        SmfMessage& message = out_.messages.back();
        open_ = false;
        // The F7 is not counted against the limit: the stored length counts the bytes before it.
        if (message.kind != SmfMessageKind::TooLong) Append(message, f7At, 1);
    }

    // The open message is lost with the rest of a damaged file.
    void Forget() {
        out_.pieces.resize(out_.messages.back().firstPiece);
        out_.messages.pop_back();
        open_ = false;
    }

    void Cut() {
        SmfMessage& message = out_.messages.back();
        open_ = false;
        message.kind = SmfMessageKind::CutOff;
        out_.pieces.resize(message.firstPiece);
        message.pieceCount = 0;
        message.length = 0;
    }

private:
    void Append(SmfMessage& message, std::uint64_t at, std::size_t size) {
        message.length += static_cast<std::uint32_t>(size);
        if (message.pieceCount > 0) {
            SmfPiece& last = out_.pieces.back();
            if (last.offset + last.size == at) {
                last.size += static_cast<std::uint32_t>(size);
                return;
            }
        }
        CheckRoom();
        out_.pieces.push_back({at, static_cast<std::uint32_t>(size)});
        ++message.pieceCount;
    }

    void CheckRoom() const {
        if (out_.messages.size() + out_.pieces.size() >= MaxSmfEntries) {
            throw kelvane::Failure("Standard MIDI File のシステムエクスクルーシブ イベントが多すぎて読み込めません");
        }
    }

    SmfContents& out_;
    std::size_t maxStoredLength_;
    bool open_ = false;
};

class Reader {
public:
    Reader(ByteSource& source, std::size_t maxStoredLength)
        : cursor_(source), collector_(contents_, maxStoredLength) {}

    SmfContents Read() {
        const std::uint64_t size = cursor_.Size();
        cursor_.Seek(0);
        for (const char expected : {'M', 'T', 'h', 'd'}) {
            if (cursor_.Byte(size, 0, "MThd で始まっていません") != static_cast<std::uint8_t>(expected)) {
                throw MalformedSmf(0, "MThd で始まっていません");
            }
        }
        const std::uint32_t headerLength = cursor_.Big(4, 0);
        if (headerLength < 6) throw MalformedSmf(4, "MThd チャンクの長さが 6 未満です");
        if (8 + std::uint64_t{headerLength} > size) throw MalformedSmf(0, "チャンクがファイルの末尾で途切れています");
        contents_.format = static_cast<std::uint16_t>(cursor_.Big(2, 8));
        const std::uint32_t declaredTracks = cursor_.Big(2, 10);
        if (contents_.format > 2) {
            throw MalformedSmf(8, "形式 " + std::to_string(contents_.format) + " の Standard MIDI File には対応していません");
        }
        ReadChunks(8 + std::uint64_t{headerLength}, size, declaredTracks);
        if (contents_.format != 2) {
            // Messages are already in track order and, within a track, in time order.
            std::stable_sort(contents_.messages.begin(), contents_.messages.end(),
                             [](const SmfMessage& a, const SmfMessage& b) { return a.time < b.time; });
        }
        return std::move(contents_);
    }

private:
    // Past the header, damage costs only what it touches: a track broken inside keeps the
    // messages complete before the break, and the tracks after it are still read, since each
    // chunk's length says where the next one starts. A track that the end of the file cuts
    // keeps its complete messages too (a download cut short). The first damage is the one told.
    void ReadChunks(std::uint64_t at, std::uint64_t size, std::uint32_t declaredTracks) {
        try {
            while (at < size) {
                const bool tracksMissing = contents_.tracks < declaredTracks;
                if (size - at < 8) {
                    // A few bytes of padding after the last track are left alone.
                    if (tracksMissing) throw MalformedSmf(at, "チャンクの見出しが途中で終わっています");
                    break;
                }
                cursor_.Seek(at);
                std::uint8_t type[4];
                for (std::uint8_t& byte : type) byte = cursor_.Byte(size, at, "チャンクの見出しが途中で終わっています");
                const std::uint32_t length = cursor_.Big(4, at);
                const bool isTrack = std::memcmp(type, "MTrk", 4) == 0;
                const std::uint64_t end = at + 8 + length;
                if (end > size) {
                    if (isTrack) {
                        ReadCutTrack(at + 8, size);
                        return;
                    }
                    // Junk after every declared track is no chunk; a missing track is a loss.
                    if (tracksMissing) throw MalformedSmf(at, "チャンクがファイルの末尾で途切れています");
                    break;
                }
                if (isTrack) ReadSoundTrack(at + 8, end);
                at = end;
            }
            if (contents_.tracks < declaredTracks) {
                throw MalformedSmf(size, "ヘッダーにあるトラック " + std::to_string(declaredTracks) + " 個のうち " +
                                             std::to_string(contents_.tracks) + " 個しかありません");
            }
        } catch (const MalformedSmf& damage) {
            Damage(damage.Offset(), damage.Reason());
        }
    }

    void Damage(std::uint64_t at, const std::string& reason) {
        if (collector_.Open()) collector_.Forget();
        if (contents_.damaged) return;
        contents_.damaged = true;
        contents_.damagedAt = at;
        contents_.damage = reason;
    }

    // A track whose chunk lies whole in the file: a break inside it ends only this track.
    void ReadSoundTrack(std::uint64_t start, std::uint64_t end) {
        try {
            ReadTrack(start, end);
        } catch (const MalformedSmf& damage) {
            Damage(damage.Offset(), damage.Reason());
        }
    }

    // A track whose chunk runs past the end of the file: its events are read as far as the
    // file goes. The damage is where the first event that did not fit begins (the end of the
    // file when the cut fell between events); a break before that is told as it is.
    void ReadCutTrack(std::uint64_t start, std::uint64_t size) {
        static const std::string kCut = "トラックがファイルの末尾で途切れています";
        try {
            ReadTrack(start, size, &cutEventAt_);
        } catch (const MalformedSmf& damage) {
            Damage(damage.Reason() == kPastTrackEnd ? cutEventAt_ : damage.Offset(),
                   damage.Reason() == kPastTrackEnd ? kCut : damage.Reason());
            return;
        }
        Damage(size, kCut);
    }

    // `lastEventAt`, when given, follows where the event being read began.
    void ReadTrack(std::uint64_t start, std::uint64_t end, std::uint64_t* lastEventAt = nullptr) {
        const std::uint32_t track = contents_.tracks++;
        cursor_.Seek(start);
        std::uint64_t time = 0;
        std::uint8_t running = 0;
        while (cursor_.Pos() < end) {
            const std::uint64_t eventAt = cursor_.Pos();
            if (lastEventAt) *lastEventAt = eventAt;
            time += cursor_.Vlq(end, eventAt);
            const std::uint64_t statusAt = cursor_.Pos();
            std::uint8_t status = cursor_.Byte(end, eventAt, kPastTrackEnd);
            if (status < 0x80) {
                if (running == 0) throw MalformedSmf(statusAt, "ランニングステータスの前にステータスがありません");
                SkipChannelData(running, 1, end, eventAt);
                continue;
            }
            if (status < 0xF0) {
                running = status;
                SkipChannelData(status, 0, end, eventAt);
                continue;
            }
            if (status == 0xFF) {
                const std::uint8_t type = cursor_.Byte(end, eventAt, kPastTrackEnd);
                const std::uint64_t length = cursor_.Vlq(end, eventAt);
                if (length > end - cursor_.Pos()) throw MalformedSmf(eventAt, kPastTrackEnd);
                // End of Track: whatever follows in the chunk is not played.
                if (type == 0x2F) break;
                cursor_.Seek(cursor_.Pos() + length);
                continue;
            }
            if (status != kF0 && status != kF7) {
                throw MalformedSmf(statusAt, "トラックにはないはずのステータス " + Hex2(status) + "H があります");
            }
            const std::uint64_t length = cursor_.Vlq(end, eventAt);
            if (length > end - cursor_.Pos()) throw MalformedSmf(eventAt, kPastTrackEnd);
            if (status == kF0) {
                if (collector_.Open()) collector_.Cut();
                collector_.Begin(time, track, statusAt);
            }
            ScanData(cursor_.Pos() + length, time, track);
        }
        if (collector_.Open()) collector_.Cut();
    }

    // Channel events: one data byte for program change and channel pressure, two otherwise.
    // Under running status the byte in the status position was the first of them.
    void SkipChannelData(std::uint8_t status, int alreadyRead, std::uint64_t end, std::uint64_t eventAt) {
        const std::uint8_t kind = status & 0xF0;
        const int count = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
        for (int i = alreadyRead; i < count; ++i) {
            const std::uint64_t at = cursor_.Pos();
            const std::uint8_t byte = cursor_.Byte(end, eventAt, kPastTrackEnd);
            if (byte >= 0x80) throw MalformedSmf(at, "データバイトの位置に " + Hex2(byte) + "H があります");
        }
    }

    // The data of a SysEx event up to `stop`: bytes of the open message up to its F7, and
    // outside a message everything up to the next F0, which opens one.
    void ScanData(std::uint64_t stop, std::uint64_t time, std::uint32_t track) {
        while (cursor_.Pos() < stop) {
            const std::span<const std::uint8_t> bytes = cursor_.Available(stop);
            const std::uint64_t at = cursor_.Pos();
            if (collector_.Open()) {
                const void* f7 = std::memchr(bytes.data(), kF7, bytes.size());
                const std::size_t run = f7 ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(f7) - bytes.data())
                                           : bytes.size();
                if (run > 0) collector_.Add(at, run);
                if (f7) {
                    collector_.End(at + run);
                    cursor_.Seek(at + run + 1);
                } else {
                    cursor_.Seek(at + run);
                }
            } else {
                const void* f0 = std::memchr(bytes.data(), kF0, bytes.size());
                if (!f0) {
                    cursor_.Seek(at + bytes.size());
                    continue;
                }
                const std::size_t skip = static_cast<std::size_t>(static_cast<const std::uint8_t*>(f0) - bytes.data());
                collector_.Begin(time, track, at + skip);
                cursor_.Seek(at + skip + 1);
            }
        }
    }

    Cursor cursor_;
    SmfContents contents_;
    Collector collector_;
    std::uint64_t cutEventAt_ = 0;
};

}  // namespace

bool StartsLikeSmf(std::span<const std::uint8_t> firstBytes) {
    return firstBytes.size() >= 4 && std::memcmp(firstBytes.data(), "MThd", 4) == 0;
}

std::size_t MemorySource::ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
    if (offset >= bytes_.size()) return 0;
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(size, bytes_.size() - offset));
    std::memcpy(buffer, bytes_.data() + offset, count);
    return count;
}

MalformedSmf::MalformedSmf(std::uint64_t offset, const std::string& reason)
    : kelvane::Failure("オフセット " + std::to_string(offset) + ": " + reason), offset_(offset), reason_(reason) {}

SmfContents ReadSmf(ByteSource& source, std::size_t maxStoredLength) {
    if (source.Size() < 8) throw MalformedSmf(0, "チャンクの見出しが途中で終わっています");
    return Reader(source, maxStoredLength).Read();
}

}  // namespace sysex
