#include "smf/SmfWriter.h"

#include <stdexcept>

#include "common/Failure.h"

namespace smf {

void AppendVlq(std::vector<std::uint8_t>& out, std::uint32_t value) {
    if (value > MaxVlqValue) {
        throw std::out_of_range("variable-length quantity needs more than four groups: " +
                                std::to_string(value));
    }
    int shift = 21;
    while (shift > 0 && (value >> shift) == 0) shift -= 7;
    for (; shift > 0; shift -= 7) {
        out.push_back(static_cast<std::uint8_t>(0x80 | ((value >> shift) & 0x7F)));
    }
    out.push_back(static_cast<std::uint8_t>(value & 0x7F));
}

std::vector<std::uint8_t> EncodeVlq(std::uint32_t value) {
    std::vector<std::uint8_t> bytes;
    AppendVlq(bytes, value);
    return bytes;
}

std::size_t EventSize(std::size_t storedLength) {
    std::size_t vlqBytes = 1;
    for (std::size_t rest = storedLength >> 7; rest != 0; rest >>= 7) ++vlqBytes;
    return 2 + vlqBytes + storedLength;
}

std::uint32_t TrackBodySize(const sysex::MessageList& messages) {
    if (messages.count < 0) {
        throw std::invalid_argument("message count outside the store: " + std::to_string(messages.count));
    }
    // The chunk length field has 32 bits and must also hold End of Track.
    constexpr std::uint64_t kLargestBody = 0xFFFFFFFFu - 4;
    std::uint64_t size = 0;
    for (std::int32_t k = 0; k < messages.count; ++k) {
        const std::size_t storedLength = messages.at(k).size() - 1;
        if (storedLength > MaxVlqValue) throw kelvane::Failure(TooLongForSmfText(k));
        size += EventSize(storedLength);
        if (size > kLargestBody) throw kelvane::Failure(TooLargeForSmfText());
    }
    return static_cast<std::uint32_t>(size);
}

std::string TooLongForSmfText(std::int32_t k) {
    return "メッセージ " + std::to_string(k + 1) +
           " は Standard MIDI File のイベントにできる長さ (268435455 バイト) を超えているため保存できません";
}

std::string TooLargeForSmfText() {
    return "メッセージが合わせて 4 GiB を超えるため Standard MIDI File のトラックに収まらず、保存できません";
}

namespace {
void AppendEventHead(std::vector<std::uint8_t>& body, std::size_t storedLength) {
    body.push_back(EventDeltaTicks);
    body.push_back(0xF0);
    AppendVlq(body, static_cast<std::uint32_t>(storedLength));
}
}  // namespace

void AppendSysExEvent(std::vector<std::uint8_t>& body, sysex::MessageBytes message) {
    AppendEventHead(body, message.size() - 1);
    body.insert(body.end(), message.begin() + 1, message.end());
}

std::vector<std::uint8_t> BuildTrackBody(const sysex::MessageList& messages) {
    std::vector<std::uint8_t> body;
    body.reserve(TrackBodySize(messages));
    for (std::int32_t k = 0; k < messages.count; ++k) AppendSysExEvent(body, messages.at(k));
    return body;
}

void WriteSmf(kelvane::OutputFile& file, const sysex::MessageList& messages) {
    const std::uint32_t trackLength = TrackBodySize(messages) + EndOfTrack.size();
    const std::uint8_t lengthField[4] = {
        static_cast<std::uint8_t>(trackLength >> 24), static_cast<std::uint8_t>(trackLength >> 16),
        static_cast<std::uint8_t>(trackLength >> 8), static_cast<std::uint8_t>(trackLength),
    };

    file.Write(SMFHeader.data(), SMFHeader.size());
    file.Write(lengthField, sizeof lengthField);

    // Events are gathered into pieces; one larger than a piece goes out by itself, straight
    // from the store, so the piece never grows.
    std::vector<std::uint8_t> piece;
    piece.reserve(WriteChunkBytes);
    for (std::int32_t k = 0; k < messages.count; ++k) {
        const sysex::MessageBytes message = messages.at(k);
        const std::size_t size = EventSize(message.size() - 1);
        if (piece.size() + size > WriteChunkBytes) {
            file.Write(piece.data(), piece.size());
            piece.clear();
        }
        if (size > WriteChunkBytes) {
            AppendEventHead(piece, message.size() - 1);
            file.Write(piece.data(), piece.size());
            file.Write(message.data() + 1, message.size() - 1);
            piece.clear();
            continue;
        }
        AppendSysExEvent(piece, message);
    }
    if (!piece.empty()) file.Write(piece.data(), piece.size());

    file.Write(EndOfTrack.data(), EndOfTrack.size());
}

void ExportStore(const std::string& pathUtf8, kelvane::SpecialTargets special) {
    // What cannot be saved is refused before anything is prepared.
    TrackBodySize(sysex::StoreMessages());
    kelvane::OutputFile file(pathUtf8, special);
    ExportStore(file);
}

void ExportStore(kelvane::OutputFile& file) {
    WriteSmf(file, sysex::StoreMessages());
    file.Close();
}

}  // namespace smf
