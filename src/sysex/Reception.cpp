#include "sysex/Reception.h"

#include <algorithm>
#include <cstring>

#include "sysex/Checksum.h"

namespace sysex {

// Allocated without being written, so a reception of a few small messages touches only the
// pages those messages need, not the 65 MB that a full block would.
Reception::Reception(std::int32_t keep)
    : slots_(new OwnStore), scanner_(ScanRules::Wire, slots_->writer, std::max(keep, 0)) {}

Reception::~Reception() = default;

// The bytes a user means by the size of a dump: those of SysEx messages, from F0 to F7. Clock,
// active sensing and the notes a keyboard sends meanwhile are not part of it.
void Reception::CountSysExBytes(std::span<const std::uint8_t> bytes) {
    std::uint64_t counted = 0;
    for (const std::uint8_t b : bytes) {
        if (b == 0xF0) {
            inSysEx_ = true;
        } else if (b >= 0xF8) {
            continue;
        } else if (b >= 0x80 && b != 0xF7) {
            inSysEx_ = false;
        }
        if (inSysEx_) ++counted;
        if (b == 0xF7) inSysEx_ = false;
    }
    if (counted > 0) bytes_.fetch_add(counted, std::memory_order_relaxed);
}

void Reception::Feed(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    if (std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b < 0xF8; })) {
        lastByteAt_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
        heard_.store(true, std::memory_order_relaxed);
    }
    CountSysExBytes(bytes);
    if (!scanner_.Feed(bytes.data(), bytes.size())) full_.store(true, std::memory_order_relaxed);
    messages_.store(scanner_.Stored(), std::memory_order_release);
}

void Reception::Lose(LossCause cause, std::uint32_t events) {
    // Every byte sent before the source left has come, and no message was left open.
    if (cause == LossCause::SourceGone && !scanner_.InMessage()) {
        sourceLeft_ = true;
        ended_.store(true, std::memory_order_release);
        return;
    }
    const auto k = static_cast<std::size_t>(cause);
    ++losses_.times[k];
    losses_.events[k] += events;
    if (!LossEndsReception(cause)) {
        scanner_.Abandon();
        inSysEx_ = false;
    }
    lost_.store(true, std::memory_order_relaxed);
    if (LossEndsReception(cause)) ended_.store(true, std::memory_order_release);
}

Reception::Progress Reception::Now() const {
    Progress progress;
    progress.messages = messages_.load(std::memory_order_acquire);
    progress.bytes = bytes_.load(std::memory_order_relaxed);
    progress.full = full_.load(std::memory_order_relaxed);
    progress.lost = lost_.load(std::memory_order_relaxed);
    progress.ended = ended_.load(std::memory_order_acquire);
    progress.heard = heard_.load(std::memory_order_relaxed);
    progress.lastByteAt = Clock::time_point(Clock::duration(lastByteAt_.load(std::memory_order_relaxed)));
    return progress;
}

ReceptionSummary Reception::MoveIntoStore() {
    ReceptionSummary summary;
    summary.scan = scanner_.Finish();
    // Nothing kept, nothing replaced: the dump loaded before is still the user's.
    if (summary.scan.stored > 0) {
        slots_->MoveIntoStore(summary.scan.stored);
        for (std::int32_t k = 0; k < SysExCount; ++k) summary.keptBytes += MessageAt(k).size();
    }
    summary.receivedBytes = bytes_.load(std::memory_order_relaxed);
    summary.losses = losses_;
    summary.sourceLeft = sourceLeft_;
    if (summary.scan.stored > 0) summary.wrongChecksums = WrongChecksumsInStore();
    return summary;
}

bool ReceptionDone(const Reception::Progress& progress, Reception::Clock::time_point now,
                   std::chrono::milliseconds idle, std::int32_t count) {
    if (progress.ended) return true;
    if (count > 0 && progress.messages >= count) return true;
    if (progress.full) return true;
    return idle.count() > 0 && progress.heard && now - progress.lastByteAt >= idle;
}

const char* LossCauseName(LossCause cause) {
    switch (cause) {
        case LossCause::Overflow: return "overflow";
        case LossCause::Overrun: return "overrun";
        case LossCause::Damaged: return "damaged";
        case LossCause::SourceGone: return "sourceGone";
        case LossCause::ServerGone: return "serverGone";
        case LossCause::MissedCycles: return "missedCycles";
    }
    return "unknown";
}

std::string LossText(LossCause cause, std::uint32_t times, std::uint64_t events) {
    const std::string counted = events > 0 ? " (" + std::to_string(events) + " イベント)" : std::string();
    switch (cause) {
        case LossCause::Overflow:
            return "受信が速すぎて受信バッファーがあふれ、データが " + std::to_string(times) + " 回失われました" + counted;
        case LossCause::Overrun:
            return "受信が速すぎてシステムの受信バッファーがあふれ、データが " + std::to_string(times) +
                   " 回失われました" + counted;
        case LossCause::Damaged:
            return "デバイスから壊れたデータを " + std::to_string(times) + " 回受信しました" + counted;
        case LossCause::SourceGone:
            return "送信元のポートがなくなったため、受信を終えました";
        case LossCause::ServerGone:
            return "JACK サーバーが停止したため、受信を終えました";
        case LossCause::MissedCycles:
            return "JACK の処理周期に間に合わなかったため、データが " + std::to_string(times) +
                   " 回失われた可能性があります" + (events > 0 ? " (" + std::to_string(events) + " 周期)" : std::string());
    }
    return {};
}

std::string ReceptionSummaryText(const ReceptionSummary& summary) {
    std::string text = summary.scan.stored > 0 ? std::to_string(summary.scan.stored) + " メッセージ (" +
                                                     std::to_string(summary.keptBytes) + " バイト) を記録しました"
                                               : std::string("メッセージを受信しませんでした");
    auto add = [&text](const std::string& sentence) {
        if (!sentence.empty()) text += "\n" + sentence;
    };
    add(DroppedNotice(summary.scan, DroppedFrom::Reception));
    if (summary.scan.notKept > 0) {
        add("指定の件数を超えたメッセージ " + std::to_string(summary.scan.notKept) + " 件は記録しませんでした");
    }
    for (int k = 0; k < LossCauseCount; ++k) {
        const auto cause = static_cast<LossCause>(k);
        if (summary.losses.Times(cause) > 0) add(LossText(cause, summary.losses.Times(cause), summary.losses.Events(cause)));
    }
    if (summary.sourceLeft) add(LossText(LossCause::SourceGone, 1, 0));
    if (!summary.wrongChecksums.empty()) {
        add("チェックサムが合わないメッセージが " + std::to_string(summary.wrongChecksums.size()) + " 件あります: " +
            ListNumbersText(summary.wrongChecksums));
    }
    return text;
}

}  // namespace sysex
