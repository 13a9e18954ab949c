#include "cli/Identify.h"

#include <chrono>
#include <thread>

#include "cli/CliTexts.h"
#include "cli/Interrupt.h"
#include "cli/JsonText.h"
#include "common/Failure.h"
#include "midi/Input.h"
#include "midi/Port.h"

namespace cli {

namespace {
// Long enough for bytes already on their way when the input opened (a late reply to an
// earlier request) to arrive, so that they can be set aside before ours goes out.
constexpr auto kSettle = std::chrono::milliseconds(100);
}  // namespace

sysex::IdentifyAnswers Identify(const IdentifyRequest& request) {
    sysex::ReplyCollector collector;
    midi::InputOpenResult opened = midi::OpenInputEntry(
        static_cast<std::int32_t>(request.inputEntry),
        midi::ByteReceiver([&collector](std::span<const std::uint8_t> bytes) { collector.Feed(bytes); }));
    if (opened.code != 0) {
        throw kelvane::Failure(InputPortOpenFailedText(request.inputEntry, request.inputName, opened.code) +
                               (opened.error.empty() ? "" : ": " + opened.error));
    }
    InterruptCatcher interrupt;
    std::this_thread::sleep_for(kSettle);
    collector.Discard();
    std::string error;
    if (midi::SendOnEntry(static_cast<std::int32_t>(request.outputEntry), sysex::IdentityRequestMessage, error) != 0) {
        throw kelvane::Failure("要求を送信できません: " + error);
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(request.waitMs);
    while (std::chrono::steady_clock::now() < end && !interrupt.Requested()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Closed before the replies are read, so that no byte comes in while they are taken.
    opened.port.reset();
    return sysex::SortIdentifyAnswers(collector.Take());
}

std::string IdentifyAnswersJson(const sysex::IdentifyAnswers& answers) {
    std::string json = "{\"replies\":[";
    for (std::size_t i = 0; i < answers.replies.size(); ++i) {
        const sysex::IdentityReply& r = answers.replies[i];
        const std::string name = sysex::MakerName(r);
        json += (i ? "," : "") + std::string("{\"deviceId\":") + std::to_string(r.deviceId) +
                ",\"manufacturer\":" + (name.empty() ? std::string("null") : JsonString(name)) +
                ",\"manufacturerId\":" + JsonString(sysex::MakerIdText(r)) + ",\"family\":" + std::to_string(r.family) +
                ",\"familyCode\":" + JsonString(sysex::FamilyCodeText(r)) + ",\"member\":" + std::to_string(r.member) +
                ",\"memberCode\":" + JsonString(sysex::MemberCodeText(r)) +
                ",\"version\":" + JsonString(sysex::VersionText(r)) + "}";
    }
    json += "],\"malformed\":[";
    for (std::size_t i = 0; i < answers.malformed.size(); ++i) {
        json += (i ? "," : "") + JsonString(sysex::MessageHexText(answers.malformed[i]));
    }
    return json + "]}\n";
}

}  // namespace cli
