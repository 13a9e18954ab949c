#include "sysex/Identity.h"

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

std::vector<IdentityReply> IdentityReplies(const std::vector<std::vector<std::uint8_t>>& messages) {
    std::vector<IdentityReply> replies;
    for (const auto& message : messages) {
        if (auto reply = ParseIdentityReply(message)) replies.push_back(std::move(*reply));
    }
    return replies;
}

namespace {
std::string HexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) text += (text.empty() ? "" : " ") + HexByte(byte);
    return text;
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

std::string IdentityReplyLine(const IdentityReply& reply) {
    const std::string name = MakerName(reply);
    return "機器 ID " + HexByte(reply.deviceId) + "H  " + (name.empty() ? "不明なメーカー" : name) + " (" +
           MakerIdText(reply) + ")  ファミリー " + std::to_string(reply.family) + "  メンバー " +
           std::to_string(reply.member) + "  バージョン " + VersionText(reply);
}

void ReplyCollector::Feed(std::span<const std::uint8_t> bytes) {
    const std::lock_guard<std::mutex> guard(lock_);
    for (const std::uint8_t byte : bytes) {
        if (byte >= 0xF8) continue;  // real-time bytes may come anywhere
        if (byte == 0xF0) {
            open_.assign(1, byte);
            inMessage_ = true;
            tooLong_ = false;
            continue;
        }
        if (!inMessage_) continue;
        if (byte >= 0x80 && byte != 0xF7) {
            inMessage_ = false;  // cut off by another status byte
            continue;
        }
        if (open_.size() < longest_) {
            open_.push_back(byte);
        } else {
            tooLong_ = true;
        }
        if (byte == 0xF7) {
            if (!tooLong_) complete_.push_back(open_);
            inMessage_ = false;
        }
    }
}

std::vector<std::vector<std::uint8_t>> ReplyCollector::Take() {
    const std::lock_guard<std::mutex> guard(lock_);
    return std::exchange(complete_, {});
}

}  // namespace sysex
