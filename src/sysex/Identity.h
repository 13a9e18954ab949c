#pragma once
// Asking what is connected: the MIDI standard's Identity Request, and reading the Identity
// Replies that devices send back. Pure functions, any thread; ReplyCollector as it says.
//
//   Request: F0 7E 7F 06 01 F7                        (7F: every device answers)
//   Reply:   F0 7E dev 06 02 maker family(2) member(2) version(4) F7
// The maker is one byte, or three bytes 00 xx yy; family and member are two data bytes each,
// least significant first, so their value is lsb + 128 * msb.

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sysex {

inline constexpr std::array<std::uint8_t, 6> IdentityRequestMessage = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};

struct IdentityReply {
    std::uint8_t deviceId = 0;
    std::vector<std::uint8_t> maker;  // one byte, or three starting with 00
    std::uint16_t family = 0;
    std::uint16_t member = 0;
    std::array<std::uint8_t, 4> version{};

    bool operator==(const IdentityReply&) const = default;
};

// The reply a whole message (F0 through F7) is, or nothing when it is none.
std::optional<IdentityReply> ParseIdentityReply(std::span<const std::uint8_t> message);

// Every identity reply among `messages`, in their order; other messages are passed over.
std::vector<IdentityReply> IdentityReplies(const std::vector<std::vector<std::uint8_t>>& messages);

// The maker's ID as hex bytes, "41" or "00 20 33".
std::string MakerIdText(const IdentityReply& reply);
// The maker's name from the makers table; empty when the ID is not in it.
std::string MakerName(const IdentityReply& reply);
// The four version bytes, "01 02 03 04".
std::string VersionText(const IdentityReply& reply);

// One line for a person: "機器 ID 10H  Roland Corporation (41)  ファミリー 322  メンバー 0  バージョン 01 02 03 04".
std::string IdentityReplyLine(const IdentityReply& reply);

// Collects whole SysEx messages from a live MIDI byte stream: real-time bytes inside a message
// are skipped, any other status byte drops the message it cuts off, and messages longer than
// `longest` bytes are dropped (replies are short; a dump that happens to arrive is no reply).
// Feed runs on the input's thread, Take on any other; both take a lock held only for copying.
class ReplyCollector {
public:
    explicit ReplyCollector(std::size_t longest = 64) : longest_(longest) {}
    void Feed(std::span<const std::uint8_t> bytes);
    std::vector<std::vector<std::uint8_t>> Take();

private:
    std::mutex lock_;
    std::size_t longest_;
    std::vector<std::uint8_t> open_;  // the message under way, from its F0
    bool inMessage_ = false;
    bool tooLong_ = false;
    std::vector<std::vector<std::uint8_t>> complete_;
};

}  // namespace sysex
