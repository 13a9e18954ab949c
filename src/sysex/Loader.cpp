#include "sysex/Loader.h"

#include <cstring>
#include <memory>

#include "common/Failure.h"
#include "sysex/DumpFile.h"
#include "sysex/SmfReader.h"
#include "sysex/Store.h"

namespace sysex {

namespace {
constexpr std::uint8_t kF0 = 0xF0;
constexpr std::uint8_t kF7 = 0xF7;
// Large enough that a 65 MB dump takes some 65 reads; small enough to stay in cache.
constexpr std::size_t kReadBlockSize = std::size_t{1} << 20;
}  // namespace

SlotTarget StoreSlots() { return {SysExData, SysExLen}; }

std::size_t DumpScanner::MessageEnd(const std::uint8_t* data, std::size_t pos, std::size_t size) const {
    if (rules_ == ScanRules::File) {
        const void* found = std::memchr(data + pos, kF7, size - pos);
        return found ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - data) : size;
    }
    while (pos < size && data[pos] < 0x80) ++pos;
    return pos;
}

void DumpScanner::Append(const std::uint8_t* bytes, std::size_t count) {
    if (overflowing_) return;
    if (count <= MaxStoredLength - length_) {
        // With the slots full the message is only measured: only once its F7 comes is it known
        // to be left out for the limit, rather than for its length or for being cut off.
        if (next_ < MaxSysEx) std::memcpy(&target_.data[next_][length_], bytes, count);
        length_ += count;
    } else {
        overflowing_ = true;
    }
}

bool DumpScanner::EndMessage() {
    if (beyondKeep_) {
        ++result_.notKept;
    } else if (overflowing_) {
        ++result_.droppedTooLong;
    } else if (next_ == MaxSysEx) {
        stopped_ = true;
        result_.stoppedAtLimit = true;
    } else {
        target_.data[next_][length_] = kF7;
        target_.lengths[next_] = static_cast<std::uint16_t>(length_);
        ++next_;
    }
    inMessage_ = false;
    return !stopped_;
}

bool DumpScanner::Feed(const std::uint8_t* data, std::size_t size) {
    std::size_t pos = 0;
    while (pos < size && !stopped_) {
        if (!inMessage_) {
            const void* found = std::memchr(data + pos, kF0, size - pos);
            if (found == nullptr) return true;
            pos = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - data);
            inMessage_ = true;
            beyondKeep_ = keep_ < MaxSysEx && next_ >= keep_;
            // Past the number asked for, a message is only framed, never written anywhere.
            overflowing_ = beyondKeep_;
            length_ = 0;
            Append(data + pos, 1);
            ++pos;
        }
        const std::size_t end = MessageEnd(data, pos, size);
        Append(data + pos, end - pos);
        if (end == size) return true;
        const std::uint8_t status = data[end];
        if (status == kF7) {
            if (!EndMessage()) return false;
            pos = end + 1;
        } else if (status >= 0xF8) {
            // Real-time bytes may come between any two bytes on a wire; they are not the message's.
            pos = end + 1;
        } else {
            // The sender gave up on the message; the status byte begins whatever comes next.
            ++(beyondKeep_ ? result_.notKept : result_.droppedCutOff);
            inMessage_ = false;
            pos = end;
        }
    }
    return !stopped_;
}

void DumpScanner::Abandon() {
    if (!inMessage_) return;
    ++(beyondKeep_ ? result_.notKept : result_.droppedDamaged);
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
        inMessage_ = false;
    }
    result_.stored = next_;
    return result_;
}

ScanResult ScanDump(const std::uint8_t* data, std::size_t size) {
    DumpScanner scanner;
    scanner.Feed(data, size);
    const ScanResult result = scanner.Finish();
    SysExCount = result.stored;
    return result;
}

namespace {

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

}  // namespace

ScanResult StoreSmfMessages(ByteSource& source, const SmfContents& contents, const std::string& pathUtf8) {
    ScanResult result;
    std::int32_t next = 0;
    for (const SmfMessage& message : contents.messages) {
        if (message.kind == SmfMessageKind::TooLong) {
            ++result.droppedTooLong;
            continue;
        }
        if (message.kind == SmfMessageKind::CutOff) {
            ++result.droppedCutOff;
            continue;
        }
        if (next == MaxSysEx) {
            result.stoppedAtLimit = true;
            break;
        }
        // Straight from the file into the slot: the structure is known, so no byte needs a look.
        std::uint8_t* slot = SysExData[next];
        std::size_t at = 0;
        for (std::size_t p = 0; p < message.pieceCount; ++p) {
            const SmfPiece& piece = contents.pieces[message.firstPiece + p];
            const std::size_t got = source.ReadAt(piece.offset, slot + at, piece.size);
            at += got;
            if (got != piece.size) break;
        }
        // Short only when the file changed since its structure was read.
        if (at != message.length || slot[0] != kF0 || slot[at - 1] != kF7 ||
            std::memchr(slot, kF7, at - 1) != nullptr) {
            SysExCount = next;
            throw kelvane::Failure(CannotOpenText(pathUtf8));
        }
        SysExLen[next] = static_cast<std::uint16_t>(at - 1);
        ++next;
    }
    result.stored = next;
    SysExCount = next;
    return result;
}

ScanResult LoadDumpFile(const std::string& pathUtf8) {
    DumpFile file(pathUtf8);
    std::uint8_t magic[4] = {};
    const std::size_t magicSize = file.ReadAt(0, magic, sizeof magic);
    if (StartsLikeSmf({magic, magicSize})) {
        FileSource source(file);
        SmfContents contents;
        try {
            contents = ReadSmf(source, MaxStoredLength);
        } catch (const MalformedSmf& malformed) {
            throw kelvane::Failure(MalformedSmfText(pathUtf8, malformed));
        }
        return StoreSmfMessages(source, contents, pathUtf8);
    }
    // One buffer per load, not per message; the slots themselves are the destination.
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kReadBlockSize);
    DumpScanner scanner;
    try {
        std::uint64_t offset = 0;
        for (;;) {
            const std::size_t got = file.ReadAt(offset, buffer.get(), kReadBlockSize);
            offset += got;
            if (got == 0 || !scanner.Feed(buffer.get(), got)) break;
        }
    } catch (...) {
        // Slots below the scan position now hold new messages; only these are valid.
        SysExCount = scanner.Stored();
        throw;
    }
    const ScanResult result = scanner.Finish();
    SysExCount = result.stored;
    return result;
}

std::string MalformedSmfText(const std::string& pathUtf8, const MalformedSmf& malformed) {
    return kelvane::FormatText("ファイル %s は Standard MIDI File として読めません (", pathUtf8) + malformed.what() + ")";
}

std::string ListLine(int index) {
    // Built by appending only: GCC 12 at -O3 takes "literal" + string for an overlapping copy.
    const std::string number = std::to_string(index + 1);
    std::string line;
    line.reserve(24);
    if (number.size() < 4) line.append(4 - number.size(), '0');
    line += number;
    if (SysExData[index][1] == 0x42) line += " 42H";
    line += ' ';
    line += std::to_string(SysExLen[index]);
    line += "Byte";
    return line;
}

std::string DroppedNotice(const ScanResult& result, DroppedFrom from) {
    const bool received = from == DroppedFrom::Reception;
    const std::string notRead = received ? "記録しませんでした" : "読み込みませんでした";
    std::string text;
    auto add = [&text](const std::string& sentence) {
        if (!text.empty()) text += "\n";
        text += sentence;
    };
    if (result.droppedTooLong > 0) {
        add("65535 バイトを超えるメッセージ " + std::to_string(result.droppedTooLong) +
            " 件は長すぎるため" + notRead);
    }
    if (result.droppedUnterminated) {
        add("ファイルの末尾で途切れたメッセージ (F7 がないもの) 1 件は読み込みませんでした");
    }
    if (result.droppedCutOff > 0) {
        add("途中で途切れたメッセージ (F7 がないもの) " + std::to_string(result.droppedCutOff) +
            " 件は記録しませんでした");
    }
    if (result.droppedDamaged > 0) {
        add("受信中にデータが欠けたメッセージ " + std::to_string(result.droppedDamaged) + " 件は記録しませんでした");
    }
    if (result.stoppedAtLimit) {
        // The scan stops at the first message left out for the limit: the file's messages before
        // it are the stored ones and those too long.
        const std::int64_t firstLeftOut = std::int64_t{result.stored} + result.droppedTooLong + result.droppedCutOff +
                                          result.droppedDamaged + 1;
        add("メッセージは " + std::to_string(MaxSysEx) + " 件までしか記録できないため、" +
            std::to_string(firstLeftOut) + (received ? " 件目以降は受信しませんでした" : " 件目以降は読み込みませんでした"));
    }
    return text;
}

}  // namespace sysex
