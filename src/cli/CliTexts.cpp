#include "cli/CliTexts.h"

namespace cli {

std::string MessageOutOfRangeText(std::uint32_t number, int storedCount) {
    if (storedCount <= 0) return "メッセージ " + std::to_string(number) + " はありません (メッセージがありません)";
    return "メッセージ " + std::to_string(number) + " はありません (1〜" +
           std::to_string(storedCount) + ")";
}

std::string TooManyToWriteText(std::uint64_t selected, std::uint64_t limit) {
    return "選択したメッセージが多すぎます (" + std::to_string(selected) + " 個、1 つのファイルに書けるのは " +
           std::to_string(limit) + " 個まで)";
}

std::string TooManyMessagesText(std::uint64_t selected, std::uint64_t limit) {
    return "選択したメッセージが多すぎます (" + std::to_string(selected) + " 個、一度に送れるのは " +
           std::to_string(limit) + " 個まで)";
}

std::string TooManyBytesText(std::uint64_t selected, std::uint64_t limit) {
    return "選択したメッセージが大きすぎます (" + std::to_string(selected) + " バイト、一度に送れるのは " +
           std::to_string(limit) + " バイトまで)";
}

std::string PortOutOfRangeText(std::uint32_t port, std::size_t deviceCount) {
    if (deviceCount == 0) return "ポート " + std::to_string(port) + " はありません (出力ポートがありません)";
    return "ポート " + std::to_string(port) + " はありません (1〜" + std::to_string(deviceCount) + ")";
}

std::string NoPortText() { return "ポート 0 は (None) のため送信できません"; }

std::string PortOpenFailedText(std::uint32_t port, const std::string& name, int code) {
    return "ポート " + std::to_string(port) + " (" + name + ") を開けません (エラー " +
           std::to_string(code) + ")";
}

std::string SendUnfinishedText(std::uint32_t port) {
    return "ポート " + std::to_string(port) + " への送信が終わりません";
}

std::string SendCancelledText(std::size_t sent, std::size_t total) {
    return "中止しました: " + std::to_string(total) + " メッセージのうち " + std::to_string(sent) + " を送信しました";
}

std::string SendInDoubtText(const std::vector<int>& numbers) {
    std::string list;
    for (const int number : numbers) list += (list.empty() ? "" : ",") + std::to_string(number);
    return "JACK の処理周期に間に合わなかったため、メッセージ " + list +
           " が届いていないか欠けている可能性があります (送り直すには --messages " + list + ")";
}

std::string NoInputPortText() { return "入力ポート 0 は (None) のため受信できません"; }

std::string InputPortOutOfRangeText(std::uint32_t port, std::size_t deviceCount) {
    if (deviceCount == 0) return "入力ポート " + std::to_string(port) + " はありません (入力ポートがありません)";
    return "入力ポート " + std::to_string(port) + " はありません (1〜" + std::to_string(deviceCount) + ")";
}

std::string InputPortOpenFailedText(std::uint32_t port, const std::string& name, int code) {
    return "入力ポート " + std::to_string(port) + " (" + name + ") を開けません (エラー " +
           std::to_string(code) + ")";
}

std::string TargetUnwritableText(const std::string& path, const std::string& reason) {
    return path + " に保存できないため、受信を始めませんでした: " + reason;
}

std::string CaptureLostText(const std::string& path, const std::string& reason) {
    return path + " に保存できず、ほかの保存先にも書き込めませんでした: " + reason;
}

std::string CaptureSavedElsewhereText(const std::string& path, const std::string& reason,
                                      const std::string& recovery) {
    return path + " に保存できませんでした: " + reason + "\n受信したデータは " + recovery + " に保存しました";
}

std::string StdoutFailedText() { return "標準出力に書き込めません"; }

std::string FileChangedText(const std::string& path) {
    return "ファイル " + path + " がチェックの間に変わったため、直したものを保存しませんでした";
}

std::string FixedText(std::size_t fixed, const std::string& path) {
    return std::to_string(fixed) + " 件のチェックサムを直して " + path + " に保存しました";
}

std::string NoIdentityReplyText(const std::string& output, const std::string& input, std::uint32_t waitMs) {
    return "応答がありません: " + output + " に機器の確認 (Identity Request) を送りましたが、" +
           std::to_string(waitMs / 1000) + "." + std::to_string(waitMs % 1000 / 100) + " 秒のあいだに " + input +
           " へ Identity Reply は届きませんでした (接続と機器の MIDI 設定を確かめてください)";
}

std::string MalformedIdentityReplyText(const std::string& output, const std::string& input) {
    return "応答はありましたが、正しい Identity Reply ではありません: " + output + " に機器の確認 (Identity Request) を送り、" +
           input + " に応答が届きましたが、その形が Identity Reply の決まりに合いません (機器の説明書で応答の形を確かめてください)";
}

}  // namespace cli
