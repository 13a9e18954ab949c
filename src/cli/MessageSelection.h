#pragma once
// The --messages list of send, export and join: message numbers as the list shows them (from 1),
// single or as ranges, "1,3-5". The messages are taken in the order written, so "5,1-3" gives
// 5, 1, 2, 3, and a message may be named more than once.

#include <cstdint>
#include <string_view>
#include <vector>

#include "sysex/Store.h"

namespace cli {

struct MessageRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;  // first <= last
    bool operator==(const MessageRange&) const = default;
};

// Reads "1,3-5" into {1,1}, {3,5}. Throws UsageError for an empty list or item, anything but
// digits, '-' and ',', a number beyond 32 bits or a range that runs backwards.
std::vector<MessageRange> ParseMessageSelection(std::string_view text);

// At most this many messages go out in one send: a list may name a message many times, and a
// short argument ("1-1000,1-1000,...") must not expand into more than memory holds.
inline constexpr std::uint64_t MaxSelectedMessages = 1000000;

// The store indexes (from 0) of the listed messages in the order written; all stored messages
// when `ranges` is empty. Throws kelvane::Failure when a number is 0 or above `storedCount`, or
// the list names more than MaxSelectedMessages, before anything is expanded.
std::vector<int> MessageIndexes(const std::vector<MessageRange>& ranges, int storedCount);

// The listed messages of `from` in the order written, read in place (nothing is copied or
// expanded, so a list may name as many as a store holds). Throws kelvane::Failure when a number
// is 0 or beyond `from`, or the list names more than a message list counts.
sysex::MessageList SelectedMessages(const std::vector<MessageRange>& ranges, const sysex::MessageList& from);

}  // namespace cli
