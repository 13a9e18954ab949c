#include "sysex/Meaning.h"

#include "sysex/Identity.h"
#include "sysex/NamedRequests.h"

namespace sysex {

namespace {

std::uint32_t Word14(std::uint8_t lsb, std::uint8_t msb) { return lsb | (std::uint32_t{msb} << 7); }

// "41 02" as "41H 02H": hex in a meaning always carries its H.
std::string WithH(const std::string& hexBytes) {
    std::string text;
    for (const char c : hexBytes) {
        if (c == ' ') text += 'H';
        text += c;
    }
    return text + "H";
}

// The universal messages, by their sub-IDs (MIDI 1.0 Universal System Exclusive Messages,
// Table 4): F0 7E|7F dev sub1 sub2 ... F7.
std::optional<std::string> UniversalMeaning(std::span<const std::uint8_t> m) {
    if (m.size() < 5 || (m[1] != 0x7E && m[1] != 0x7F)) return std::nullopt;
    const bool realTime = m[1] == 0x7F;
    const std::uint8_t sub1 = m[3];
    const std::uint8_t sub2 = m[4];
    const std::size_t body = m.size() - 1;  // bytes before the F7
    if (!realTime) {
        switch (sub1) {
            case 0x01:
                if (body >= 7) return "Sample Dump Header (sample " + std::to_string(Word14(m[4], m[5])) + ")";
                break;
            case 0x02: return "Sample Data Packet (packet " + std::to_string(sub2) + ")";
            case 0x03:
                if (body == 6) return "Sample Dump Request (sample " + std::to_string(Word14(m[4], m[5])) + ")";
                break;
            case 0x06:
                if (sub2 == 0x01 && body == 5) return std::string("Identity Request");
                if (sub2 == 0x02) {
                    if (const auto reply = ParseIdentityReply(m)) {
                        const std::string name = MakerName(*reply);
                        return "Identity Reply: " + (name.empty() ? std::string("unknown maker") : name) + " (" +
                               WithH(MakerIdText(*reply)) + "), family " + WithH(FamilyCodeText(*reply)) + " (" +
                               std::to_string(reply->family) + "), member " + WithH(MemberCodeText(*reply)) + " (" +
                               std::to_string(reply->member) + "), version " + WithH(VersionText(*reply));
                    }
                }
                break;
            case 0x07:
                if (sub2 == 0x01) return std::string("File Dump Header");
                if (sub2 == 0x02) return std::string("File Dump Data Packet");
                if (sub2 == 0x03) return std::string("File Dump Request");
                break;
            case 0x08:
                if (sub2 == 0x00 && body == 6) return "MIDI Tuning Bulk Dump Request (program " + std::to_string(m[5]) + ")";
                if (sub2 == 0x01 && body >= 6) return "MIDI Tuning Bulk Dump (program " + std::to_string(m[5]) + ")";
                return std::string("MIDI Tuning");
            case 0x09:
                if (body != 5) break;
                if (sub2 == 0x01) return std::string("GM System On");
                if (sub2 == 0x02) return std::string("GM System Off");
                if (sub2 == 0x03) return std::string("GM2 System On");
                break;
            default: break;
        }
        return std::nullopt;
    }
    if (sub1 == 0x04 && (sub2 == 0x01 || sub2 == 0x02) && body == 7) {
        return std::string(sub2 == 0x01 ? "Master Volume " : "Master Balance ") + std::to_string(Word14(m[5], m[6]));
    }
    if (sub1 == 0x08) return std::string("MIDI Tuning");
    return std::nullopt;
}

}  // namespace

std::optional<std::string> MessageMeaning(std::span<const std::uint8_t> message) {
    if (message.size() < 2 || message.front() != 0xF0 || message.back() != 0xF7) return std::nullopt;
    for (std::size_t i = 1; i + 1 < message.size(); ++i) {
        if (message[i] >= 0x80) return std::nullopt;
    }
    if (auto meaning = UniversalMeaning(message)) return meaning;
    return NamedRequestMeaning(message);
}

}  // namespace sysex
