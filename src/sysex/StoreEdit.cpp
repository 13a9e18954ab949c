#include "sysex/StoreEdit.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "common/Failure.h"

namespace sysex {

void PackedMessages::Reserve(std::size_t messages, std::size_t bytes) {
    ends_.reserve(ends_.size() + messages);
    bytes_.reserve(bytes_.size() + bytes);
}

void PackedMessages::Add(MessageBytes message) {
    bytes_.insert(bytes_.end(), message.begin(), message.end());
    ends_.push_back(bytes_.size());
}

MessageBytes PackedMessages::At(std::int32_t j) const {
    const auto i = static_cast<std::size_t>(j);
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return {bytes_.data() + begin, ends_[i] - begin};
}

MessageList PackedMessages::List() const {
    return {Count(), [this](std::int32_t j) { return At(j); }};
}

PackedMessages PackMessages(const MessageList& from, const std::vector<std::int32_t>& which) {
    std::size_t bytes = 0;
    for (const std::int32_t k : which) bytes += from.at(k).size();
    PackedMessages packed;
    packed.Reserve(which.size(), bytes);
    for (const std::int32_t k : which) packed.Add(from.at(k));
    return packed;
}

std::string EditOutOfMemoryText() { return "メモリーが足りないため、この編集はできません"; }

namespace {

bool Ascending(const MessageNumbers& numbers, std::int32_t end) {
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (numbers[i] < 0 || numbers[i] >= end || (i > 0 && numbers[i] <= numbers[i - 1])) return false;
    }
    return true;
}

void Require(bool condition) {
    // Callers pass numbers they have checked; a wrong one is a fault of ours, not the user's.
    if (!condition) throw kelvane::Failure("編集するメッセージの番号が正しくありません");
}

bool Complete(MessageBytes message) {
    return message.size() >= 2 && message.front() == 0xF0 && message.back() == 0xF7 &&
           std::find(message.begin(), message.end() - 1, 0xF7) == message.end() - 1;
}

const MessageList NoFreshMessages{0, [](std::int32_t) { return MessageBytes(); }};

}  // namespace

StoreEditor::StoreEditor(std::uint8_t (*data)[SlotSize], std::uint16_t* lengths, std::int32_t& count,
                         GrownMessages& grown)
    : data_(data), lengths_(lengths), count_(count), grown_(grown) {}

StoreEdit StoreEditor::Insert(const MessageNumbers& at, const MessageList& messages) {
    const std::int64_t total = std::int64_t{count_} + messages.count;
    if (total > INT32_MAX) throw std::bad_alloc();
    Require(messages.count == static_cast<std::int32_t>(at.size()) &&
            Ascending(at, static_cast<std::int32_t>(total)));
    for (std::int32_t j = 0; j < messages.count; ++j) Require(Complete(messages.at(j)));
    StoreEdit inverse;
    inverse.kind = StoreEdit::Kind::Remove;
    inverse.at = at;
    std::vector<std::int32_t> order(static_cast<std::size_t>(total));
    std::int32_t old = 0;
    std::size_t next = 0;
    for (std::int32_t k = 0; k < total; ++k) {
        if (next < at.size() && at[next] == k) {
            order[static_cast<std::size_t>(k)] = -1 - static_cast<std::int32_t>(next++);
        } else {
            order[static_cast<std::size_t>(k)] = old++;
        }
    }
    Rearrange(order, messages);
    return inverse;
}

StoreEdit StoreEditor::InsertAt(std::int32_t before, const MessageList& messages) {
    Require(before >= 0 && before <= count_ && std::int64_t{before} + messages.count <= INT32_MAX);
    MessageNumbers at(static_cast<std::size_t>(messages.count));
    for (std::int32_t j = 0; j < messages.count; ++j) at[static_cast<std::size_t>(j)] = before + j;
    return Insert(at, messages);
}

StoreEdit StoreEditor::Remove(const MessageNumbers& which) {
    Require(Ascending(which, count_));
    StoreEdit inverse;
    inverse.kind = StoreEdit::Kind::Insert;
    inverse.at = which;
    inverse.messages = PackMessages({count_, [this](std::int32_t k) { return At(k); }}, which);
    std::vector<std::int32_t> order;
    order.reserve(static_cast<std::size_t>(count_) - which.size());
    std::size_t next = 0;
    for (std::int32_t k = 0; k < count_; ++k) {
        if (next < which.size() && which[next] == k) {
            ++next;
        } else {
            order.push_back(k);
        }
    }
    Rearrange(order, NoFreshMessages);
    return inverse;
}

StoreEdit StoreEditor::Move(const MessageNumbers& from, const MessageNumbers& to) {
    Require(from.size() == to.size() && Ascending(from, count_) && Ascending(to, count_));
    StoreEdit inverse;
    inverse.kind = StoreEdit::Kind::Move;
    inverse.at = to;
    inverse.to = from;
    if (from == to) return inverse;
    std::vector<std::int32_t> order(static_cast<std::size_t>(count_));
    std::vector<bool> moved(static_cast<std::size_t>(count_));
    for (const std::int32_t k : from) moved[static_cast<std::size_t>(k)] = true;
    std::size_t nextMoved = 0;
    std::int32_t nextStaying = 0;
    for (std::int32_t k = 0; k < count_; ++k) {
        if (nextMoved < to.size() && to[nextMoved] == k) {
            order[static_cast<std::size_t>(k)] = from[nextMoved++];
            continue;
        }
        while (moved[static_cast<std::size_t>(nextStaying)]) ++nextStaying;
        order[static_cast<std::size_t>(k)] = nextStaying++;
    }
    Rearrange(order, NoFreshMessages);
    return inverse;
}

StoreEdit StoreEditor::Replace(std::int32_t k, MessageBytes message) {
    Require(k >= 0 && k < count_ && Complete(message));
    StoreEdit inverse;
    inverse.kind = StoreEdit::Kind::Replace;
    inverse.at = {k};
    inverse.messages.Reserve(1, At(k).size());
    inverse.messages.Add(At(k));
    // A message that stays in its slot needs nothing else moved.
    if (k < MaxSysEx && lengths_[k] != 0 && message.size() <= SlotSize) {
        std::memcpy(data_[k], message.data(), message.size());
        lengths_[k] = static_cast<std::uint16_t>(message.size() - 1);
        return inverse;
    }
    std::vector<std::int32_t> order(static_cast<std::size_t>(count_));
    for (std::int32_t j = 0; j < count_; ++j) order[static_cast<std::size_t>(j)] = j;
    order[static_cast<std::size_t>(k)] = -1;
    Rearrange(order, {1, [message](std::int32_t) { return message; }});
    return inverse;
}

StoreEdit StoreEditor::Apply(const StoreEdit& edit) {
    switch (edit.kind) {
        case StoreEdit::Kind::Insert: return Insert(edit.at, edit.messages.List());
        case StoreEdit::Kind::Remove: return Remove(edit.at);
        case StoreEdit::Kind::Move: return Move(edit.at, edit.to);
        case StoreEdit::Kind::Replace:
            Require(edit.at.size() == 1 && edit.messages.Count() == 1);
            return Replace(edit.at.front(), edit.messages.At(0));
    }
    return {};
}

void StoreEditor::Rearrange(const std::vector<std::int32_t>& order, const MessageList& fresh) {
    const auto count = static_cast<std::int32_t>(order.size());
    const std::int32_t inBlock = std::min(count, MaxSysEx);
    auto source = [&](std::int32_t k) {
        const std::int32_t from = order[static_cast<std::size_t>(k)];
        return from >= 0 ? At(from) : fresh.at(-1 - from);
    };
    auto inGrown = [&](std::int32_t k) { return k >= MaxSysEx || source(k).size() > SlotSize; };
    auto oldInSlot = [&](std::int32_t from) { return from >= 0 && from < MaxSysEx && lengths_[from] != 0; };

    // Everything that can fail comes first, while the store is untouched: the new grown storage
    // and the room to break a cycle of slots. The grown storage is built anew only when its
    // messages change; moves within the block of a million messages leave it as it is.
    bool grownKept = count == count_;
    for (std::int32_t k = 0; k < count && grownKept; ++k) {
        const std::int32_t from = order[static_cast<std::size_t>(k)];
        if (k >= MaxSysEx) {
            grownKept = from == k;
        } else if (inGrown(k) || (k < count_ && !oldInSlot(k))) {
            grownKept = from == k;
        }
    }
    GrownMessages grown;
    if (!grownKept) {
        std::size_t bytes = 0;
        for (std::int32_t k = 0; k < count; ++k) {
            if (inGrown(k)) bytes += source(k).size();
        }
        grown.Reserve(bytes);
        for (std::int32_t k = 0; k < count; ++k) {
            if (!inGrown(k)) continue;
            const MessageBytes message = source(k);
            std::memcpy(grown.Extend(message.size()), message.data(), message.size());
            grown.Close();
            if (k < MaxSysEx) grown.AddLongInBlock(k);
        }
    }
    std::vector<std::uint8_t> spare(SlotSize);
    std::uint16_t lengths[MaxSysEx];

    // Slots moving within the block, as parallel copies: a slot is written once no pending move
    // still reads it; what is left are cycles, each broken through the spare buffer.
    std::int32_t readers[MaxSysEx] = {};
    std::int32_t pendingFrom[MaxSysEx];
    std::fill(std::begin(pendingFrom), std::end(pendingFrom), -1);
    for (std::int32_t k = 0; k < inBlock; ++k) {
        const MessageBytes message = source(k);
        lengths[k] = inGrown(k) ? 0 : static_cast<std::uint16_t>(message.size() - 1);
        const std::int32_t from = order[static_cast<std::size_t>(k)];
        if (!inGrown(k) && oldInSlot(from) && from != k) {
            pendingFrom[k] = from;
            ++readers[from];
        }
    }
    auto copySlot = [&](std::int32_t to, std::int32_t from) {
        std::memcpy(data_[to], data_[from], std::size_t{lengths_[from]} + 1);
    };
    std::vector<std::int32_t> ready;
    ready.reserve(MaxSysEx);
    for (std::int32_t k = 0; k < inBlock; ++k) {
        if (pendingFrom[k] >= 0 && readers[k] == 0) ready.push_back(k);
    }
    auto settle = [&] {
        while (!ready.empty()) {
            const std::int32_t k = ready.back();
            ready.pop_back();
            const std::int32_t from = pendingFrom[k];
            copySlot(k, from);
            pendingFrom[k] = -1;
            if (--readers[from] == 0 && pendingFrom[from] >= 0) ready.push_back(from);
        }
    };
    settle();
    for (std::int32_t k = 0; k < inBlock; ++k) {
        if (pendingFrom[k] < 0) continue;
        // k lies on a cycle: keep its old message aside, and walk the cycle backwards.
        std::memcpy(spare.data(), data_[k], std::size_t{lengths_[k]} + 1);
        std::int32_t at = k;
        while (pendingFrom[at] != k) {
            const std::int32_t from = pendingFrom[at];
            copySlot(at, from);
            pendingFrom[at] = -1;
            at = from;
        }
        std::memcpy(data_[at], spare.data(), std::size_t{lengths_[k]} + 1);
        pendingFrom[at] = -1;
    }
    // Slots filled from the grown storage or from outside, now that no move reads them.
    for (std::int32_t k = 0; k < inBlock; ++k) {
        const std::int32_t from = order[static_cast<std::size_t>(k)];
        if (inGrown(k) || oldInSlot(from)) continue;
        const MessageBytes message = source(k);
        std::memcpy(data_[k], message.data(), message.size());
    }
    std::copy(lengths, lengths + inBlock, lengths_);
    if (!grownKept) grown_ = std::move(grown);
    count_ = count;
}

StoreEditor& StoreEditing() {
    static StoreEditor editor(SysExData, SysExLen, SysExCount, StoreGrown());
    return editor;
}

MessageNumbers OnePlaceUp(const MessageNumbers& selected) {
    MessageNumbers to(selected.size());
    for (std::size_t i = 0; i < selected.size(); ++i) {
        to[i] = std::max(selected[i] - 1, i == 0 ? 0 : to[i - 1] + 1);
    }
    return to;
}

MessageNumbers OnePlaceDown(const MessageNumbers& selected, std::int32_t count) {
    MessageNumbers to(selected.size());
    for (std::size_t i = selected.size(); i-- > 0;) {
        to[i] = std::min(selected[i] + 1, i + 1 == selected.size() ? count - 1 : to[i + 1] - 1);
    }
    return to;
}

MessageNumbers DroppedBefore(const MessageNumbers& selected, std::int32_t before) {
    const auto above = static_cast<std::int32_t>(
        std::lower_bound(selected.begin(), selected.end(), before) - selected.begin());
    MessageNumbers to(selected.size());
    for (std::size_t i = 0; i < selected.size(); ++i) to[i] = before - above + static_cast<std::int32_t>(i);
    return to;
}

}  // namespace sysex
