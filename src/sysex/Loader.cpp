#include "sysex/Loader.h"

#include <cstring>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>

#include "common/Failure.h"
#include "sysex/DumpFile.h"
#include "sysex/SmfReader.h"
#include "sysex/Store.h"

namespace sysex {

namespace {
constexpr std::uint8_t kF0 = 0xF0;
constexpr std::uint8_t kF7 = 0xF7;
}  // namespace

std::size_t DumpScanner::MessageEnd(const std::uint8_t* data, std::size_t pos, std::size_t size) const {
    if (rules_ == ScanRules::File) {
        const void* found = std::memchr(data + pos, kF7, size - pos);
        return found ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - data) : size;
    }
    while (pos < size && data[pos] < 0x80) ++pos;
    return pos;
}

void DumpScanner::Append(const std::uint8_t* bytes, std::size_t count) {
    // Past the number asked for, a message is only framed, never written anywhere.
    if (beyondKeep_ || stopped_ || count == 0) return;
    try {
        std::memcpy(target_.Extend(count), bytes, count);
    } catch (const std::bad_alloc&) {
        target_.Drop();
        stopped_ = true;
        result_.stoppedOutOfMemory = true;
    }
}

void DumpScanner::EndMessage() {
    if (beyondKeep_) {
        ++result_.notKept;
    } else if (!stopped_) {
        Append(&kF7, 1);
        // The count is a 32-bit number: a store that full has run out of room as surely.
        if (!stopped_ && target_.Count() == INT32_MAX) {
            target_.Drop();
            stopped_ = true;
            result_.stoppedOutOfMemory = true;
        }
        if (!stopped_) target_.Close();
    }
    inMessage_ = false;
}

bool DumpScanner::Feed(const std::uint8_t* data, std::size_t size) {
    std::size_t pos = 0;
    while (pos < size && !stopped_) {
        if (!inMessage_) {
            const void* found = std::memchr(data + pos, kF0, size - pos);
            if (found == nullptr) return true;
            pos = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - data);
            inMessage_ = true;
            beyondKeep_ = keep_ > 0 && target_.Count() >= keep_;
            Append(data + pos, 1);
            ++pos;
        }
        const std::size_t end = MessageEnd(data, pos, size);
        Append(data + pos, end - pos);
        if (end == size) return !stopped_;
        const std::uint8_t status = data[end];
        if (status == kF7) {
            EndMessage();
            pos = end + 1;
        } else if (status >= 0xF8) {
            // Real-time bytes may come between any two bytes on a wire; they are not the message's.
            pos = end + 1;
        } else {
            // The sender gave up on the message; the status byte begins whatever comes next.
            ++(beyondKeep_ ? result_.notKept : result_.droppedCutOff);
            if (!beyondKeep_) target_.Drop();
            inMessage_ = false;
            pos = end;
        }
    }
    return !stopped_;
}

void DumpScanner::Abandon() {
    if (!inMessage_) return;
    ++(beyondKeep_ ? result_.notKept : result_.droppedDamaged);
    if (!beyondKeep_) target_.Drop();
    inMessage_ = false;
}

ScanResult DumpScanner::Finish() {
    if (inMessage_) {
        if (beyondKeep_) {
            ++result_.notKept;
        } else if (rules_ == ScanRules::File) {
            result_.droppedUnterminated = true;
        } else {
            ++result_.droppedCutOff;
        }
        if (!beyondKeep_) target_.Drop();
        inMessage_ = false;
    }
    result_.stored = target_.Count();
    return result_;
}

ScanResult ScanDump(const std::uint8_t* data, std::size_t size) {
    DumpScanner scanner;
    StoreGrown().Reserve(size);
    scanner.Feed(data, size);
    const ScanResult result = scanner.Finish();
    SysExCount = result.stored;
    return result;
}

namespace {

std::uint32_t Little32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

}  // namespace

std::optional<SmfWindow> RmidData(ByteSource& file) {
    std::uint8_t head[12] = {};
    if (file.ReadAt(0, head, sizeof head) != sizeof head) return std::nullopt;
    if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "RMID", 4) != 0) return std::nullopt;
    const std::uint64_t size = file.Size();
    std::uint64_t at = 12;
    while (size - at >= 8) {
        std::uint8_t chunk[8];
        if (file.ReadAt(at, chunk, sizeof chunk) != sizeof chunk) break;
        const std::uint64_t length = Little32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) {
            // A chunk cut short keeps what it has: the SMF reader tells where it breaks.
            return SmfWindow{at + 8, std::min(length, size - (at + 8))};
        }
        at += 8 + length + (length & 1);
        if (at > size) break;
    }
    return std::nullopt;
}

std::optional<SmfWindow> MacBinaryData(ByteSource& file) {
    std::uint8_t head[kMacBinaryHeaderSize + 4] = {};
    if (file.ReadAt(0, head, sizeof head) != sizeof head) return std::nullopt;
    // The header's fixed bytes: old version 0, a name of 1 to 63 characters, zeros at 74 and 82.
    if (head[0] != 0 || head[1] < 1 || head[1] > 63 || head[74] != 0 || head[82] != 0) return std::nullopt;
    const std::uint64_t dataFork = std::uint64_t{head[83]} << 24 | std::uint64_t{head[84]} << 16 |
                                   std::uint64_t{head[85]} << 8 | head[86];
    // Only a data fork that is a Standard MIDI File is taken: a raw dump behind such a header
    // is scanned as it is, which finds its messages past the header all the same.
    if (!StartsLikeSmf({head + kMacBinaryHeaderSize, 4})) return std::nullopt;
    // A data fork cut short keeps what it has: the SMF reader tells where it breaks.
    return SmfWindow{kMacBinaryHeaderSize, std::min(dataFork, file.Size() - kMacBinaryHeaderSize)};
}

ScanResult WriteSmfMessages(ByteSource& source, const SmfContents& contents, const std::string& pathUtf8,
                            StoreWriter& store, LoadWatch* watch) {
    ScanResult result;
    store.Restart();
    for (const SmfMessage& message : contents.messages) {
        if (message.kind == SmfMessageKind::TooLong) {
            ++result.droppedTooLong;
            continue;
        }
        if (message.kind == SmfMessageKind::CutOff) {
            ++result.droppedCutOff;
            continue;
        }
        if (store.Count() == INT32_MAX) {
            result.stoppedOutOfMemory = true;
            break;
        }
        // Straight from the file into the store: the structure is known, so no byte needs a look.
        std::uint8_t* bytes = nullptr;
        try {
            bytes = store.Extend(message.length);
        } catch (const std::bad_alloc&) {
            store.Drop();
            result.stoppedOutOfMemory = true;
            break;
        }
        std::size_t at = 0;
        for (std::size_t p = 0; p < message.pieceCount; ++p) {
            const SmfPiece& piece = contents.pieces[message.firstPiece + p];
            std::size_t got = 0;
            try {
                got = source.ReadAt(piece.offset, bytes + at, piece.size);
            } catch (...) {
                store.Drop();
                throw;
            }
            at += got;
            if (got != piece.size) break;
        }
        // Short only when the file changed since its structure was read.
        if (at != message.length || bytes[0] != kF0 || bytes[at - 1] != kF7 ||
            std::memchr(bytes, kF7, at - 1) != nullptr) {
            store.Drop();
            throw kelvane::Failure(CannotOpenText(pathUtf8));
        }
        store.Close();
        if (watch) watch->messages.store(store.Count(), std::memory_order_relaxed);
    }
    result.damaged = contents.damaged;
    result.damagedAt = contents.damagedAt;
    result.damage = contents.damage;
    result.stored = store.Count();
    return result;
}

ScanResult StoreSmfMessages(ByteSource& source, const SmfContents& contents, const std::string& pathUtf8) {
    StoreWriter& store = StoreWriting();
    try {
        const ScanResult result = WriteSmfMessages(source, contents, pathUtf8, store, nullptr);
        SysExCount = result.stored;
        return result;
    } catch (...) {
        SysExCount = store.Count();
        throw;
    }
}

namespace {

// The SMF inside a larger file, as a file of its own.
class WindowSource : public ByteSource {
public:
    WindowSource(ByteSource& file, SmfWindow window) : file_(file), window_(window) {}
    std::uint64_t Size() const override { return window_.size; }
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
        if (offset >= window_.size) return 0;
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(size, window_.size - offset));
        return file_.ReadAt(window_.offset + offset, buffer, count);
    }

private:
    ByteSource& file_;
    SmfWindow window_;
};

// Where a load writes, who watches it, and whether it has begun to overwrite what was there.
struct LoadTarget {
    StoreWriter& writer;
    LoadWatch* watch = nullptr;
    bool begun = false;

    // After each read: tells how far the load has come, and stops it when asked to.
    void Read(std::uint64_t bytesRead, std::int32_t messages) const {
        if (!watch) return;
        // The count first: whoever sees the bytes read sees at least the messages found in them.
        if (messages >= 0) watch->messages.store(messages, std::memory_order_relaxed);
        if (bytesRead > watch->bytesRead.load(std::memory_order_relaxed))
            watch->bytesRead.store(bytesRead, std::memory_order_release);
        if (watch->afterRead) watch->afterRead(bytesRead);
        if (watch->stop.load(std::memory_order_relaxed)) throw LoadStopped{};
    }
};

// A Standard MIDI File is read piece by piece, by the structure's reader and then message by
// message: every read tells how far into the file it reached.
class WatchedSource : public ByteSource {
public:
    WatchedSource(ByteSource& file, const LoadTarget& target) : file_(file), target_(target) {}
    std::uint64_t Size() const override { return file_.Size(); }
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
        const std::size_t got = file_.ReadAt(offset, buffer, size);
        target_.Read(offset + got, -1);
        return got;
    }

private:
    ByteSource& file_;
    const LoadTarget& target_;
};

// Standard MIDI File messages can be as long as a track (the reader counts them in 32 bits).
constexpr std::size_t kLongestSmfMessage = 0xFFFFFFFE;

ScanResult LoadSmf(ByteSource& source, const std::string& pathUtf8, std::uint64_t base, LoadTarget& target) {
    SmfContents contents;
    try {
        contents = ReadSmf(source, kLongestSmfMessage);
    } catch (const MalformedSmf& malformed) {
        throw kelvane::Failure(MalformedSmfText(pathUtf8, MalformedSmf(base + malformed.Offset(), malformed.Reason())));
    }
    contents.damagedAt += base;
    target.begun = true;
    return WriteSmfMessages(source, contents, pathUtf8, target.writer, target.watch);
}

class FileSource : public ByteSource {
public:
    explicit FileSource(DumpFile& file) : file_(file) {}
    std::uint64_t Size() const override { return file_.Size(); }
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
        return file_.ReadAt(offset, buffer, size);
    }

private:
    DumpFile& file_;
};

ScanResult LoadInto(const std::string& pathUtf8, LoadTarget& target) {
    DumpFile file(pathUtf8);
    if (target.watch) target.watch->fileBytes.store(file.Size(), std::memory_order_relaxed);
    FileSource plain(file);
    WatchedSource watched(plain, target);
    ByteSource& whole = target.watch ? static_cast<ByteSource&>(watched) : plain;
    std::uint8_t magic[4] = {};
    const std::size_t magicSize = whole.ReadAt(0, magic, sizeof magic);
    if (StartsLikeSmf({magic, magicSize})) return LoadSmf(whole, pathUtf8, 0, target);
    for (const auto wrapped : {RmidData, MacBinaryData}) {
        if (const std::optional<SmfWindow> data = wrapped(whole)) {
            WindowSource source(whole, *data);
            return LoadSmf(source, pathUtf8, data->offset, target);
        }
    }
    // One buffer per load, not per message; the target itself is the destination.
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(LoadBlockSize);
    target.begun = true;
    DumpScanner scanner(ScanRules::File, target.writer);
    // Messages take at most the file's size: the grown storage never moves during the load.
    try {
        target.writer.Reserve(static_cast<std::size_t>(std::min<std::uint64_t>(file.Size(), SIZE_MAX)));
    } catch (const std::bad_alloc&) {
        // It grows as it goes instead, as far as memory allows.
    }
    std::uint64_t offset = 0;
    for (;;) {
        const std::size_t got = file.ReadAt(offset, buffer.get(), LoadBlockSize);
        offset += got;
        const bool more = got != 0 && scanner.Feed(buffer.get(), got);
        target.Read(offset, scanner.Stored());
        if (!more) break;
    }
    return scanner.Finish();
}

}  // namespace

ScanResult LoadDump(const std::string& pathUtf8, StoreWriter& target, LoadWatch& watch) {
    LoadTarget into{target, &watch};
    return LoadInto(pathUtf8, into);
}

namespace {

// A load on the caller's thread; `count` is set as the store's SysExCount is.
ScanResult LoadCounted(const std::string& pathUtf8, StoreWriter& writer, std::int32_t& count) {
    LoadTarget into{writer};
    try {
        const ScanResult result = LoadInto(pathUtf8, into);
        count = result.stored;
        return result;
    } catch (...) {
        // Once the target is being overwritten, only the messages complete before are valid.
        if (into.begun) count = into.writer.Count();
        throw;
    }
}

}  // namespace

ScanResult LoadDumpFile(const std::string& pathUtf8) { return LoadCounted(pathUtf8, StoreWriting(), SysExCount); }

ScanResult LoadDumpFileInto(const std::string& pathUtf8, OwnStore& target) {
    return LoadCounted(pathUtf8, target.writer, target.count);
}

std::string MalformedSmfText(const std::string& pathUtf8, const MalformedSmf& malformed) {
    return kelvane::FormatText("ファイル %s は Standard MIDI File として読めません (", pathUtf8) + malformed.what() + ")";
}

std::string ListLine(int index) {
    // Built by appending only: GCC 12 at -O3 takes "literal" + string for an overlapping copy.
    const MessageBytes message = MessageAt(index);
    const std::string number = std::to_string(index + 1);
    std::string line;
    line.reserve(24);
    if (number.size() < 4) line.append(4 - number.size(), '0');
    line += number;
    if (message.size() > 2 && message[1] == 0x42) line += " 42H";
    line += ' ';
    line += std::to_string(message.size() - 1);
    line += "Byte";
    return line;
}

std::string DroppedNotice(const ScanResult& result, DroppedFrom from) {
    const bool received = from == DroppedFrom::Reception;
    // Loads speak of reading, a reception of recording.
    const std::string notKept = received ? "記録しませんでした" : "読み込みませんでした";
    std::string text;
    auto add = [&text](const std::string& sentence) {
        if (!text.empty()) text += "\n";
        text += sentence;
    };
    if (result.droppedTooLong > 0) {
        add("4 GiB 以上あるメッセージ " + std::to_string(result.droppedTooLong) + " 件は長すぎるため" + notKept);
    }
    if (result.droppedUnterminated) {
        add("ファイルの末尾で途切れたメッセージ (F7 がないもの) 1 件は読み込みませんでした");
    }
    if (result.droppedCutOff > 0) {
        add("途中で途切れたメッセージ (F7 がないもの) " + std::to_string(result.droppedCutOff) + " 件は" + notKept);
    }
    if (result.droppedDamaged > 0) {
        add("受信中にデータが欠けたメッセージ " + std::to_string(result.droppedDamaged) + " 件は記録しませんでした");
    }
    if (result.damaged) {
        add("ファイルはオフセット " + std::to_string(result.damagedAt) + " で壊れているため (" + result.damage +
            ")、それより前の " + std::to_string(result.stored) + " 件だけを読み込みました");
    }
    if (result.stoppedOutOfMemory) {
        const std::int64_t firstLeftOut = std::int64_t{result.stored} + 1;
        add("メモリーが足りないため、" + std::to_string(firstLeftOut) +
            (received ? " 件目以降は記録しませんでした" : " 件目以降は読み込みませんでした"));
    }
    return text;
}

}  // namespace sysex
