#pragma once
// The message store: the SysEx messages of the dump file loaded last (or of the last reception).
//
// The first MaxSysEx messages of up to MaxStoredLength bytes before their F7 live in the static
// block: slot k holds message k as F0, its data bytes and F7 at index SysExLen[k] (the stored
// length counts the F0 but not the F7, so a message occupies SysExLen[k] + 1 bytes). Everything
// beyond the block's limits lives in storage that grows: every message from number MaxSysEx on,
// and a message of the block's range too long for its slot, whose SysExLen[k] is then 0 (a valid
// slot always has a stored length of at least 1).
//
// SysExCount is the number of all messages, block and grown storage together. Slots at or beyond
// min(SysExCount, MaxSysEx) keep whatever an earlier load left there and are never read.
// Readers go through MessageCount() and MessageAt(k), which see every message; writers (the
// loader, the reception) go through StoreWriter. GUI thread only.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace sysex {

inline constexpr int MaxSysEx = 1000;
inline constexpr std::size_t SlotSize = 65536;
// The longest stored length a slot can take: 65,535 bytes before the F7, 65,536 with it.
inline constexpr std::size_t MaxStoredLength = SlotSize - 1;

extern std::uint8_t SysExData[MaxSysEx][SlotSize];
extern std::uint16_t SysExLen[MaxSysEx];
extern std::int32_t SysExCount;

// A message from its F0 through its F7.
using MessageBytes = std::span<const std::uint8_t>;

// The number of stored messages (SysExCount).
std::int32_t MessageCount();
// Stored message k, 0 <= k < MessageCount(); valid until the store next changes.
MessageBytes MessageAt(std::int32_t k);

// Messages to read in order, the store's or any other: how many, and message k.
struct MessageList {
    std::int32_t count = 0;
    std::function<MessageBytes(std::int32_t)> at;
};
MessageList StoreMessages();

// Where messages beyond a block's limits go: their bytes back to back, and where each ends.
class GrownMessages {
public:
    GrownMessages();
    ~GrownMessages();
    GrownMessages(GrownMessages&&) noexcept;
    GrownMessages& operator=(GrownMessages&&) noexcept;

    std::size_t Count() const;
    MessageBytes At(std::size_t j) const;
    // Room for about this many bytes in all, so that a load of a known size does not move them.
    void Reserve(std::size_t bytes);
    // n bytes more for the open message; throws std::bad_alloc when memory runs out.
    std::uint8_t* Extend(std::size_t n);
    // The open message becomes message Count() - 1, or is forgotten.
    void Close();
    void Forget();
    std::size_t OpenSize() const;
    void Clear();
    // Message numbers (below the block's count) held here because they outgrew their slot, in
    // order; they come before every other message here.
    std::size_t LongInBlock() const;
    std::int32_t LongInBlockNumber(std::size_t i) const;
    void AddLongInBlock(std::int32_t k);

private:
    struct Data;
    std::unique_ptr<Data> data_;
};

// Writes messages one after another from number 0 into a block laid out like the store's and
// a grown storage: the store itself, or a reception's own until it is moved into the store.
// The message count is the caller's to publish.
class StoreWriter {
public:
    StoreWriter(std::uint8_t (*data)[SlotSize], std::uint16_t* lengths, GrownMessages& grown);
    // Starts over at message 0 (earlier slots are overwritten as messages come).
    void Restart();
    // n more bytes of the open message (F0 first, F7 last): where to put them. A message
    // outgrowing its slot moves to the grown storage. Throws std::bad_alloc; the open message is
    // then only partly there and must be dropped.
    std::uint8_t* Extend(std::size_t n);
    std::size_t OpenSize() const { return open_; }
    // The open message, ending with its F7, becomes message Count().
    void Close();
    // The open message is forgotten.
    void Drop();
    std::int32_t Count() const { return count_; }
    // The bytes of message k written so far (k < Count()).
    MessageBytes At(std::int32_t k) const;
    // Room for about this many bytes of grown storage in all; throws std::bad_alloc.
    void Reserve(std::size_t bytes) { grown_.Reserve(bytes); }

private:
    std::uint8_t (*data_)[SlotSize];
    std::uint16_t* lengths_;
    GrownMessages& grown_;
    std::int32_t count_ = 0;
    std::size_t open_ = 0;
    bool openInGrown_ = false;
};

// Message k of a block laid out like the store's and its grown storage (k below their count).
MessageBytes MessageIn(const std::uint8_t (*data)[SlotSize], const std::uint16_t* lengths, const GrownMessages& grown,
                       std::int32_t k);

// A block and grown storage of their own, laid out like the store's: a reception's messages
// until they replace the store's, or a file's on their way into it. Allocate it with new (or
// make_unique_for_overwrite): the block's pages are then only touched as messages fill them.
// The writer fills it; `count` is the owner's to publish, as SysExCount is for the store.
struct OwnStore {
    std::uint8_t data[MaxSysEx][SlotSize];
    std::uint16_t lengths[MaxSysEx];
    std::int32_t count = 0;
    GrownMessages grown;
    StoreWriter writer{data, lengths, grown};

    MessageBytes At(std::int32_t k) const { return MessageIn(data, lengths, grown, k); }
    MessageList Messages() const;
    // The store's thread (the window's), once nobody writes here any more: the first `count`
    // messages written become the store's 0 .. count - 1 and SysExCount := count. The grown
    // storage moves over whole.
    void MoveIntoStore(std::int32_t count);
};

// The store's own writer (the static block and the store's grown storage).
StoreWriter& StoreWriting();
// The grown storage of the store, for a reception to hand its own over.
GrownMessages& StoreGrown();

// Zeroes the whole store as at process start. For tests only.
void ResetStoreForTests();

}  // namespace sysex
