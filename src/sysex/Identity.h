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

// The maker's ID as hex bytes, "41" or "00 20 33".
std::string MakerIdText(const IdentityReply& reply);
// The maker's name from the makers table; empty when the ID is not in it.
std::string MakerName(const IdentityReply& reply);
// The four version bytes, "01 02 03 04".
std::string VersionText(const IdentityReply& reply);
// Family and member as their two bytes stand in the reply, least significant first, as the
// makers' manuals write them: "42 02" for family 322.
std::string FamilyCodeText(const IdentityReply& reply);
std::string MemberCodeText(const IdentityReply& reply);

// One line for a person: "機器 ID 10H  Roland Corporation (41H)  ファミリー 42H 02H (322)
// メンバー 00H 00H (0)  バージョン 01H 02H 03H 04H".
std::string IdentityReplyLine(const IdentityReply& reply);

// What came back for one Identity Request: each valid reply once (a unit heard twice, or
// through two routes, is one unit), and, once each, the messages that begin as an Identity
// Reply (F0 7E dev 06 02) but are none: too long, too short, cut off before their F7.
struct IdentifyAnswers {
    std::vector<IdentityReply> replies;
    std::vector<std::vector<std::uint8_t>> malformed;
};
IdentifyAnswers SortIdentifyAnswers(const std::vector<std::vector<std::uint8_t>>& messages);

// A message's bytes as hex, "F0 7E 10 06 02 ...".
std::string MessageHexText(std::span<const std::uint8_t> message);

// The answers for a person, one line each: the replies' lines, then
// "Identity Reply として読めない応答: F0 7E ..." per malformed one. When none was valid but some
// came, the first line says so ("応答はありましたが、正しい Identity Reply ではありません").
// Empty when nothing came.
std::string IdentifyAnswersText(const IdentifyAnswers& answers);

// Collects SysEx messages from a live MIDI byte stream: real-time bytes inside a message are
// skipped. A message that another status byte cuts off, one still open when the messages are
// taken, and one longer than `longest` bytes (replies are short) are kept too, as far as they
// came (at most `longest` bytes, without an F7), so that an answer that came wrong is told as
// such rather than as silence. Feed runs on the input's thread, Take and Discard on any other;
// all take a lock held only for copying.
class ReplyCollector {
public:
    explicit ReplyCollector(std::size_t longest = 64) : longest_(longest) {}
    void Feed(std::span<const std::uint8_t> bytes);
    std::vector<std::vector<std::uint8_t>> Take();
    // Forgets everything that came so far, a message under way included: what arrived before
    // the request went out answers no request of ours (a late reply to an earlier one).
    void Discard();

private:
    std::mutex lock_;
    std::size_t longest_;
    std::vector<std::uint8_t> open_;  // the message under way, from its F0
    bool inMessage_ = false;
    bool tooLong_ = false;
    std::vector<std::vector<std::uint8_t>> complete_;
};

}  // namespace sysex
