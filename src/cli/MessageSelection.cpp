#include "cli/MessageSelection.h"

#include <algorithm>
#include <climits>

#include "cli/CliTexts.h"
#include "cli/Numbers.h"
#include "cli/UsageError.h"
#include "common/Failure.h"

namespace cli {

std::vector<MessageRange> ParseMessageSelection(std::string_view text) {
    if (text.empty()) throw UsageError("--messages needs a list such as 1,3-5");
    std::vector<MessageRange> ranges;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string_view item =
            text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        if (item.empty()) throw UsageError("empty item in message list '" + std::string(text) + "'");
        const std::size_t dash = item.find('-');
        MessageRange range;
        if (dash == std::string_view::npos) {
            range.first = range.last = ParseNumber(item, "message number");
        } else {
            range.first = ParseNumber(item.substr(0, dash), "message range start");
            range.last = ParseNumber(item.substr(dash + 1), "message range end");
            if (range.last < range.first) {
                throw UsageError("message range '" + std::string(item) + "' runs backwards");
            }
        }
        ranges.push_back(range);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return ranges;
}

namespace {

// How many messages the ranges name, once each is known to lie within the stored ones.
std::uint64_t CheckedSelection(const std::vector<MessageRange>& ranges, int storedCount) {
    const auto count = static_cast<std::uint32_t>(storedCount < 0 ? 0 : storedCount);
    std::uint64_t selected = 0;
    for (const MessageRange& range : ranges) {
        if (range.first == 0) throw kelvane::Failure(MessageOutOfRangeText(0, storedCount));
        if (range.last > count) throw kelvane::Failure(MessageOutOfRangeText(range.last, storedCount));
        selected += std::uint64_t{range.last} - range.first + 1;
    }
    return selected;
}

}  // namespace

sysex::MessageList SelectedMessages(const std::vector<MessageRange>& ranges, const sysex::MessageList& from) {
    const std::uint64_t selected = CheckedSelection(ranges, from.count);
    if (selected > INT32_MAX) throw kelvane::Failure(TooManyToWriteText(selected, INT32_MAX));
    // Where each range begins in the selection, to find message k's range by a binary search.
    std::vector<std::int32_t> starts;
    starts.reserve(ranges.size());
    std::int32_t next = 0;
    for (const MessageRange& range : ranges) {
        starts.push_back(next);
        next += static_cast<std::int32_t>(range.last - range.first + 1);
    }
    return {static_cast<std::int32_t>(selected), [ranges, starts, from](std::int32_t k) {
                const auto r = static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), k) - starts.begin() - 1);
                return from.at(static_cast<std::int32_t>(ranges[r].first) - 1 + (k - starts[r]));
            }};
}

std::vector<int> MessageIndexes(const std::vector<MessageRange>& ranges, int storedCount) {
    std::vector<int> indexes;
    if (ranges.empty()) {
        for (int k = 0; k < storedCount; ++k) indexes.push_back(k);
        return indexes;
    }
    const std::uint64_t selected = CheckedSelection(ranges, storedCount);
    if (selected > MaxSelectedMessages) throw kelvane::Failure(TooManyMessagesText(selected, MaxSelectedMessages));
    indexes.reserve(static_cast<std::size_t>(selected));
    for (const MessageRange& range : ranges) {
        for (std::uint32_t number = range.first; number <= range.last; ++number) {
            indexes.push_back(static_cast<int>(number) - 1);
        }
    }
    return indexes;
}

}  // namespace cli
