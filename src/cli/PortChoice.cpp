#include "cli/PortChoice.h"

#include <algorithm>
#include <cctype>

#include "cli/CliTexts.h"
#include "common/Failure.h"

namespace cli {

namespace {

bool AllDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

}  // namespace

std::uint32_t ResolvePort(const std::string& text, const std::vector<std::string>& entries, PortSide side,
                          const std::string& listingGap) {
    const bool input = side == PortSide::Input;
    const std::size_t devices = entries.empty() ? 0 : entries.size() - 1;
    if (AllDigits(text)) {
        // Longer than any index there can be: out of range, whatever its value.
        const std::uint32_t port = text.size() > 9 ? UINT32_MAX : static_cast<std::uint32_t>(std::stoul(text));
        if (port == 0) throw kelvane::Failure(input ? NoInputPortText() : NoPortText());
        if (port > devices) {
            // The port may be missing only because its server did not answer: say that instead.
            if (!listingGap.empty()) throw kelvane::Failure(listingGap);
            throw kelvane::Failure(input ? InputPortOutOfRangeText(port, devices) : PortOutOfRangeText(port, devices));
        }
        return port;
    }
    for (std::size_t k = 1; k < entries.size(); ++k) {
        if (entries[k] == text) return static_cast<std::uint32_t>(k);
    }
    std::vector<std::size_t> matches;
    const std::string wanted = Lower(text);
    for (std::size_t k = 1; k < entries.size(); ++k) {
        if (!wanted.empty() && Lower(entries[k]).find(wanted) != std::string::npos) matches.push_back(k);
    }
    const std::string kind = input ? "入力ポート" : "ポート";
    if (matches.empty()) {
        if (!listingGap.empty()) throw kelvane::Failure(listingGap);
        throw kelvane::Failure("「" + text + "」という名前の" + kind + "はありません");
    }
    if (matches.size() > 1) {
        std::string names;
        for (const std::size_t k : matches) names += "\n  " + std::to_string(k) + " " + entries[k];
        throw kelvane::Failure("「" + text + "」を名前に含む" + kind + "が複数あります:" + names);
    }
    return static_cast<std::uint32_t>(matches.front());
}

}  // namespace cli
