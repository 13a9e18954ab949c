#include "sysex/Checksum.h"

#include "sysex/Inspector.h"
#include "sysex/Store.h"

namespace sysex {

namespace {

constexpr std::uint8_t kRoland = 0x41;
constexpr std::uint8_t kYamaha = 0x43;
constexpr std::uint8_t kXgModel = 0x4C;

// The byte that makes the 7-bit sum of [first, last) and itself zero.
std::uint8_t TwosComplement(const std::uint8_t* first, const std::uint8_t* last) {
    unsigned sum = 0;
    for (const std::uint8_t* p = first; p < last; ++p) sum += *p;
    return static_cast<std::uint8_t>((0x80 - (sum & 0x7F)) & 0x7F);
}

ChecksumVerdict Verdict(const std::uint8_t* message, std::size_t coveredFrom, std::size_t sumAt) {
    ChecksumVerdict verdict;
    verdict.at = sumAt;
    verdict.found = message[sumAt];
    verdict.expected = TwosComplement(message + coveredFrom, message + sumAt);
    verdict.state = verdict.found == verdict.expected ? ChecksumState::Correct : ChecksumState::Wrong;
    return verdict;
}

ChecksumVerdict CheckRoland(const std::uint8_t* message, std::size_t size) {
    // Roland's exclusive format numbers devices 00-1FH, and 7FH speaks to all; other bytes there
    // belong to older forms without a checksum (a Juno-106 patch dump has 30H).
    const std::uint8_t device = message[2];
    if (device > 0x1F && device != 0x7F) return {};
    std::size_t at = 3;  // the model ID
    while (at < size && message[at] == 0x00 && at < 3 + 3) ++at;
    if (at >= size || message[at] == 0x00) return {};
    const std::size_t command = at + 1;
    if (command >= size) return {};
    const std::uint8_t cmd = message[command];
    // Data Set 1 holds a three-byte address at the least and one byte of data; Request Data 1
    // an address and a size of three bytes each at the least.
    const std::size_t minCovered = cmd == 0x12 ? 4 : 6;
    if (cmd != 0x11 && cmd != 0x12) return {};
    const std::size_t sumAt = size - 2;
    if (sumAt < command + 1 + minCovered) return {};
    return Verdict(message, command + 1, sumAt);
}

ChecksumVerdict CheckYamaha(const std::uint8_t* message, std::size_t size) {
    if (size < 9 || (message[2] & 0xF0) != 0x00) return {};
    const std::size_t count = (std::size_t{message[4]} << 7) | message[5];
    const std::size_t between = size - 8;  // bytes after the count and before the checksum
    if (count == 0) return {};
    if (message[3] == kXgModel) {
        if (between != count + 3) return {};
        return Verdict(message, 4, size - 2);
    }
    if (between != count) return {};
    return Verdict(message, 6, size - 2);
}

}  // namespace

ChecksumVerdict CheckChecksum(const std::uint8_t* message, std::size_t size) {
    if (size < 4 || message[0] != 0xF0 || message[size - 1] != 0xF7) return {};
    for (std::size_t i = 1; i + 1 < size; ++i) {
        if (message[i] >= 0x80) return {};
    }
    if (message[1] == kRoland) return CheckRoland(message, size);
    if (message[1] == kYamaha) return CheckYamaha(message, size);
    return {};
}

bool FixChecksum(std::uint8_t* message, std::size_t size) {
    const ChecksumVerdict verdict = CheckChecksum(message, size);
    if (verdict.state != ChecksumState::Wrong) return false;
    message[verdict.at] = verdict.expected;
    return true;
}

std::string ChecksumVerdictText(const ChecksumVerdict& verdict) {
    switch (verdict.state) {
        case ChecksumState::Correct: return "チェックサム正常";
        case ChecksumState::Wrong:
            return "チェックサム不一致 (正しくは " + HexByte(verdict.expected) + "H、記録は " + HexByte(verdict.found) + "H)";
        default: return "チェックサム不明";
    }
}

std::vector<ChecksumVerdict> CheckStore() {
    std::vector<ChecksumVerdict> verdicts;
    verdicts.reserve(static_cast<std::size_t>(MessageCount()));
    for (std::int32_t k = 0; k < MessageCount(); ++k) {
        const MessageBytes message = MessageAt(k);
        verdicts.push_back(CheckChecksum(message.data(), message.size()));
    }
    return verdicts;
}

std::string ChecksumSummary(const std::vector<ChecksumVerdict>& verdicts) {
    std::size_t known = 0;
    std::vector<std::size_t> wrong;
    for (std::size_t k = 0; k < verdicts.size(); ++k) {
        if (verdicts[k].state != ChecksumState::None) ++known;
        if (verdicts[k].state == ChecksumState::Wrong) wrong.push_back(k);
    }
    const std::string total = std::to_string(verdicts.size()) + " 件中 ";
    if (known == 0) return total + "チェックサムのわかるメッセージはありません";
    if (wrong.empty()) return total + "チェックサムのわかる " + std::to_string(known) + " 件はすべて正常です";
    return total + "不一致 " + std::to_string(wrong.size()) + " 件: " + ListNumbersText(wrong);
}

std::string ListNumbersText(const std::vector<std::size_t>& indexes) {
    std::string text;
    for (std::size_t i = 0; i < indexes.size() && i < MaxListedNumbers; ++i) {
        const std::string number = std::to_string(indexes[i] + 1);
        if (i > 0) text += ", ";
        if (number.size() < 4) text.append(4 - number.size(), '0');
        text += number;
    }
    if (indexes.size() > MaxListedNumbers) text += " ほか " + std::to_string(indexes.size() - MaxListedNumbers) + " 件";
    return text;
}

std::vector<std::size_t> WrongChecksumsInStore() {
    std::vector<std::size_t> wrong;
    for (std::int32_t k = 0; k < MessageCount(); ++k) {
        const MessageBytes message = MessageAt(k);
        if (CheckChecksum(message.data(), message.size()).state == ChecksumState::Wrong) {
            wrong.push_back(static_cast<std::size_t>(k));
        }
    }
    return wrong;
}

}  // namespace sysex
