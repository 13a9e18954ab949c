#pragma once
// Editing the message store: messages inserted, removed, moved and replaced. Every edit keeps
// the store's layout (sysex/Store.h) as a load would leave it: message k < MaxSysEx in slot k
// when it fits, in the grown storage (as "long in block") when it does not, and every message
// from MaxSysEx on in the grown storage. An edit either happens whole or, when memory runs out
// (std::bad_alloc) or its arguments are wrong (kelvane::Failure), not at all.
//
// Each edit returns its inverse, an edit that puts the store back as it was; applying that
// returns the edit again. An inverse holds only what it needs: a removal keeps the bytes of
// the messages it took out, an insertion only where they went, a move only the numbers. An
// edit history (sysex/EditHistory.h) keeps these for undo and redo.
//
// No Qt; one thread at a time (the store's, the window's).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sysex/Store.h"

namespace sysex {

// Message numbers from 0, ascending, without repeats.
using MessageNumbers = std::vector<std::int32_t>;

// Messages kept outside the store, back to back, taking no more memory than their bytes and one
// end offset each.
class PackedMessages {
public:
    PackedMessages() = default;
    // Room for exactly this much, so that a small edit's inverse stays small.
    void Reserve(std::size_t messages, std::size_t bytes);
    void Add(MessageBytes message);
    std::int32_t Count() const { return static_cast<std::int32_t>(ends_.size()); }
    MessageBytes At(std::int32_t j) const;
    MessageList List() const;
    std::size_t Bytes() const { return bytes_.size(); }

private:
    std::vector<std::uint8_t> bytes_;
    std::vector<std::size_t> ends_;
};

// The copies of messages of a list (the store's, a file's) in the given order.
PackedMessages PackMessages(const MessageList& from, const std::vector<std::int32_t>& which);

// One edit in a form that can be applied later (an undo or redo step).
struct StoreEdit {
    enum class Kind { Insert, Remove, Move, Replace };
    Kind kind = Kind::Insert;
    // Insert: where the new messages stand afterwards; Remove: the messages taken out; Move: the
    // messages moved; Replace: the one message replaced.
    MessageNumbers at;
    // Move: where the moved messages stand afterwards, in the same order.
    MessageNumbers to;
    // Insert: the new messages, one for each of `at`; Replace: the new bytes.
    PackedMessages messages;
};

// The edits of one store: the block `data`/`lengths`, its grown storage and its count.
class StoreEditor {
public:
    StoreEditor(std::uint8_t (*data)[SlotSize], std::uint16_t* lengths, std::int32_t& count, GrownMessages& grown);

    std::int32_t Count() const { return count_; }
    MessageBytes At(std::int32_t k) const { return MessageIn(data_, lengths_, grown_, k); }

    // Inserts the messages of `messages` (each from F0 through F7, and none of them this
    // store's own) so that message j stands at number at[j] afterwards.
    StoreEdit Insert(const MessageNumbers& at, const MessageList& messages);
    // Inserts them together before message `before` (Count() for after the last).
    StoreEdit InsertAt(std::int32_t before, const MessageList& messages);
    StoreEdit Remove(const MessageNumbers& which);
    // Moves the messages `from` so that they stand at `to` afterwards, in their order; the others
    // keep their order around them.
    StoreEdit Move(const MessageNumbers& from, const MessageNumbers& to);
    // Message k becomes `message` (from F0 through F7).
    StoreEdit Replace(std::int32_t k, MessageBytes message);
    // Applies an edit returned earlier.
    StoreEdit Apply(const StoreEdit& edit);

private:
    // The store afterwards, message k being old message order[k] (>= 0) or fresh message
    // -1 - order[k].
    void Rearrange(const std::vector<std::int32_t>& order, const MessageList& fresh);

    std::uint8_t (*data_)[SlotSize];
    std::uint16_t* lengths_;
    std::int32_t& count_;
    GrownMessages& grown_;
};

// The editor of the store itself (SysExData, SysExLen, SysExCount and the store's grown storage).
StoreEditor& StoreEditing();

// Where moving the messages `selected` one place up (or down) takes them: each goes one up
// unless the one above is selected and cannot move either, so a selection at the top stays.
MessageNumbers OnePlaceUp(const MessageNumbers& selected);
MessageNumbers OnePlaceDown(const MessageNumbers& selected, std::int32_t count);
// Where dropping the messages `selected` before message `before` (0 .. count) takes them.
MessageNumbers DroppedBefore(const MessageNumbers& selected, std::int32_t before);

// "メモリーが足りないため、この編集はできません"
std::string EditOutOfMemoryText();

}  // namespace sysex
