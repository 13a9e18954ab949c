#include "sysex/Identity.h"

#include <algorithm>
#include <utility>

#include "sysex/Inspector.h"
#include "sysex/Manufacturers.h"

namespace sysex {

std::optional<IdentityReply> ParseIdentityReply(std::span<const std::uint8_t> message) {
    // F0 7E dev 06 02, the maker, 2 + 2 + 4 bytes, F7.
    if (message.size() < 15 || message[0] != 0xF0 || message[1] != 0x7E || message[3] != 0x06 ||
        message[4] != 0x02 || message.back() != 0xF7) {
        return std::nullopt;
    }
    for (std::size_t i = 1; i + 1 < message.size(); ++i) {
        if (message[i] >= 0x80) return std::nullopt;
    }
    const std::size_t makerBytes = message[5] == 0x00 ? 3 : 1;
    if (message.size() != 5 + makerBytes + 8 + 1) return std::nullopt;
    IdentityReply reply;
    reply.deviceId = message[2];
    reply.maker.assign(message.begin() + 5, message.begin() + 5 + static_cast<std::ptrdiff_t>(makerBytes));
    const std::size_t at = 5 + makerBytes;
    reply.family = static_cast<std::uint16_t>(message[at] | (message[at + 1] << 7));
    reply.member = static_cast<std::uint16_t>(message[at + 2] | (message[at + 3] << 7));
    for (std::size_t i = 0; i < 4; ++i) reply.version[i] = message[at + 4 + i];
    return reply;
}

namespace {
std::string HexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) text += (text.empty() ? "" : " ") + HexByte(byte);
    return text;
}

// "42H 02H": bytes with the H every manual gives them.
std::string HexBytesH(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) text += (text.empty() ? "" : " ") + HexByte(byte) + "H";
    return text;
}

std::array<std::uint8_t, 2> Code(std::uint16_t value) {
    return {static_cast<std::uint8_t>(value & 0x7F), static_cast<std::uint8_t>(value >> 7)};
}

bool BeginsAsReply(std::span<const std::uint8_t> m) {
    return m.size() >= 5 && m[0] == 0xF0 && m[1] == 0x7E && m[3] == 0x06 && m[4] == 0x02;
}
}  // namespace

std::string MakerIdText(const IdentityReply& reply) { return HexBytes(reply.maker); }

std::string MakerName(const IdentityReply& reply) {
    // The makers table reads a maker from a message's bytes 1 to 3.
    std::vector<std::uint8_t> header{0xF0};
    header.insert(header.end(), reply.maker.begin(), reply.maker.end());
    header.push_back(0xF7);
    const auto name = ManufacturerName(header.data(), header.size());
    return name ? std::string(*name) : std::string();
}

std::string VersionText(const IdentityReply& reply) { return HexBytes(reply.version); }
std::string FamilyCodeText(const IdentityReply& reply) { return HexBytes(Code(reply.family)); }
std::string MemberCodeText(const IdentityReply& reply) { return HexBytes(Code(reply.member)); }

std::string IdentityReplyLine(const IdentityReply& reply) {
    const std::string name = MakerName(reply);
    return "機器 ID " + HexByte(reply.deviceId) + "H  " + (name.empty() ? "不明なメーカー" : name) + " (" +
           HexBytesH(reply.maker) + ")  ファミリー " + HexBytesH(Code(reply.family)) + " (" +
           std::to_string(reply.family) + ")  メンバー " + HexBytesH(Code(reply.member)) + " (" +
           std::to_string(reply.member) + ")  バージョン " + HexBytesH(reply.version);
}

IdentifyAnswers SortIdentifyAnswers(const std::vector<std::vector<std::uint8_t>>& messages) {
    IdentifyAnswers answers;
    for (const auto& message : messages) {
        if (auto reply = ParseIdentityReply(message)) {
            if (std::find(answers.replies.begin(), answers.replies.end(), *reply) == answers.replies.end()) {
                answers.replies.push_back(std::move(*reply));
            }
        } else if (BeginsAsReply(message) &&
                   std::find(answers.malformed.begin(), answers.malformed.end(), message) == answers.malformed.end()) {
            answers.malformed.push_back(message);
        }
    }
    return answers;
}

std::string MessageHexText(std::span<const std::uint8_t> message) { return HexBytes(message); }

std::string IdentifyAnswersText(const IdentifyAnswers& answers) {
    std::string text;
    const auto add = [&text](const std::string& line) { text += (text.empty() ? "" : "\n") + line; };
    if (answers.replies.empty() && !answers.malformed.empty()) {
        add("応答はありましたが、正しい Identity Reply ではありません (長さが違う、F7 がない、など)");
    }
    for (const IdentityReply& reply : answers.replies) add(IdentityReplyLine(reply));
    for (const auto& message : answers.malformed) add("Identity Reply として読めない応答: " + HexBytes(message));
    return text;
}

void ReplyCollector::Feed(std::span<const std::uint8_t> bytes) {
    const std::lock_guard<std::mutex> guard(lock_);
    for (const std::uint8_t byte : bytes) {
        if (byte >= 0xF8) continue;  // real-time bytes may come anywhere
        if (byte == 0xF0) {
            if (inMessage_) complete_.push_back(open_);  // cut off by the next message
            open_.assign(1, byte);
            inMessage_ = true;
            tooLong_ = false;
            continue;
        }
        if (!inMessage_) continue;
        if (byte >= 0x80 && byte != 0xF7) {
            complete_.push_back(open_);  // cut off by another status byte
            inMessage_ = false;
            continue;
        }
        if (open_.size() < longest_) {
            open_.push_back(byte);
        } else {
            tooLong_ = true;
        }
        if (byte == 0xF7) {
            // A message too long kept only its beginning, which has no F7: no reply.
            complete_.push_back(open_);
            inMessage_ = false;
        }
    }
}

std::vector<std::vector<std::uint8_t>> ReplyCollector::Take() {
    const std::lock_guard<std::mutex> guard(lock_);
    if (inMessage_) {
        complete_.push_back(open_);  // still without its F7 when the wait ended
        inMessage_ = false;
    }
    return std::exchange(complete_, {});
}

void ReplyCollector::Discard() {
    const std::lock_guard<std::mutex> guard(lock_);
    complete_.clear();
    open_.clear();
    inMessage_ = false;
    tooLong_ = false;
}

}  // namespace sysex
