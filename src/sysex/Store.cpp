#include "sysex/Store.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace sysex {

// Static on purpose: 65.5 MB allocated once, zero at start, never freed.
std::uint8_t SysExData[MaxSysEx][SlotSize];
std::uint16_t SysExLen[MaxSysEx];
std::int32_t SysExCount = 0;

struct GrownMessages::Data {
    // Bytes grow without being zeroed first: a 100 MB load would otherwise write them twice.
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t capacity = 0;
    std::size_t size = 0;           // closed messages and the open one
    std::vector<std::size_t> ends;  // where closed message j ends
    std::vector<std::int32_t> longInBlock;

    std::size_t ClosedEnd() const { return ends.empty() ? 0 : ends.back(); }

    void Grow(std::size_t needed) {
        std::size_t wanted = std::max<std::size_t>(capacity + capacity / 2, std::size_t{1} << 16);
        wanted = std::max(wanted, needed);
        auto moved = std::make_unique_for_overwrite<std::uint8_t[]>(wanted);
        if (size > 0) std::memcpy(moved.get(), bytes.get(), size);
        bytes = std::move(moved);
        capacity = wanted;
    }
};

GrownMessages::GrownMessages() : data_(std::make_unique<Data>()) {}
GrownMessages::~GrownMessages() = default;
GrownMessages::GrownMessages(GrownMessages&&) noexcept = default;
GrownMessages& GrownMessages::operator=(GrownMessages&&) noexcept = default;

std::size_t GrownMessages::Count() const { return data_->ends.size(); }

MessageBytes GrownMessages::At(std::size_t j) const {
    const std::size_t begin = j == 0 ? 0 : data_->ends[j - 1];
    return {data_->bytes.get() + begin, data_->ends[j] - begin};
}

void GrownMessages::Reserve(std::size_t bytes) {
    if (bytes > data_->capacity) data_->Grow(bytes);
}

std::uint8_t* GrownMessages::Extend(std::size_t n) {
    Data& d = *data_;
    if (n > d.capacity - d.size) {
        if (n > SIZE_MAX - d.size) throw std::bad_alloc();
        d.Grow(d.size + n);
    }
    std::uint8_t* at = d.bytes.get() + d.size;
    d.size += n;
    return at;
}

void GrownMessages::Close() { data_->ends.push_back(data_->size); }
void GrownMessages::Forget() { data_->size = data_->ClosedEnd(); }
std::size_t GrownMessages::OpenSize() const { return data_->size - data_->ClosedEnd(); }

void GrownMessages::Clear() {
    // Memory goes back to the system: after a 100 MB file, a small one should not keep it.
    *data_ = Data();
}

std::size_t GrownMessages::LongInBlock() const { return data_->longInBlock.size(); }
std::int32_t GrownMessages::LongInBlockNumber(std::size_t i) const { return data_->longInBlock[i]; }
void GrownMessages::AddLongInBlock(std::int32_t k) { data_->longInBlock.push_back(k); }

StoreWriter::StoreWriter(std::uint8_t (*data)[SlotSize], std::uint16_t* lengths, GrownMessages& grown)
    : data_(data), lengths_(lengths), grown_(grown) {}

void StoreWriter::Restart() {
    grown_.Clear();
    count_ = 0;
    open_ = 0;
    openInGrown_ = false;
}

std::uint8_t* StoreWriter::Extend(std::size_t n) {
    if (count_ < MaxSysEx && !openInGrown_) {
        if (n <= SlotSize - open_) {
            std::uint8_t* at = &data_[count_][open_];
            open_ += n;
            return at;
        }
        // Outgrew its slot: what it has so far moves over, the rest follows there.
        // (Nothing to move when the message comes whole, as a Standard MIDI File's does: an empty
        // grown storage has no bytes to point at yet.)
        if (open_ > 0) std::memcpy(grown_.Extend(open_), data_[count_], open_);
        openInGrown_ = true;
    } else if (count_ >= MaxSysEx) {
        openInGrown_ = true;
    }
    std::uint8_t* at = grown_.Extend(n);
    open_ += n;
    return at;
}

void StoreWriter::Close() {
    if (openInGrown_) {
        grown_.Close();
        if (count_ < MaxSysEx) {
            grown_.AddLongInBlock(count_);
            lengths_[count_] = 0;
        }
    } else {
        lengths_[count_] = static_cast<std::uint16_t>(open_ - 1);
    }
    ++count_;
    open_ = 0;
    openInGrown_ = false;
}

void StoreWriter::Drop() {
    if (openInGrown_) grown_.Forget();
    open_ = 0;
    openInGrown_ = false;
}

MessageBytes MessageIn(const std::uint8_t (*data)[SlotSize], const std::uint16_t* lengths,
                       const GrownMessages& grown, std::int32_t k) {
    if (k < MaxSysEx && lengths[k] != 0) return {data[k], std::size_t{lengths[k]} + 1};
    if (k < MaxSysEx) {
        std::size_t low = 0;
        std::size_t high = grown.LongInBlock();
        while (low + 1 < high) {
            const std::size_t mid = (low + high) / 2;
            (grown.LongInBlockNumber(mid) <= k ? low : high) = mid;
        }
        return grown.At(low);
    }
    return grown.At(grown.LongInBlock() + static_cast<std::size_t>(k - MaxSysEx));
}

MessageList OwnStore::Messages() const {
    return {count, [this](std::int32_t k) { return At(k); }};
}

namespace {

GrownMessages& Grown() {
    static GrownMessages grown;
    return grown;
}

}  // namespace

MessageBytes StoreWriter::At(std::int32_t k) const { return MessageIn(data_, lengths_, grown_, k); }

GrownMessages& StoreGrown() { return Grown(); }

void OwnStore::MoveIntoStore(std::int32_t count) {
    const std::int32_t inBlock = std::min(count, MaxSysEx);
    for (std::int32_t k = 0; k < inBlock; ++k) {
        const std::uint16_t length = lengths[k];
        // A zero length marks a message held in the grown storage, which moves over whole.
        if (length != 0) std::memcpy(SysExData[k], data[k], std::size_t{length} + 1);
        SysExLen[k] = length;
    }
    StoreGrown() = std::move(grown);
    SysExCount = count;
}

StoreWriter& StoreWriting() {
    static StoreWriter writer(SysExData, SysExLen, Grown());
    return writer;
}

std::int32_t MessageCount() { return SysExCount; }

MessageBytes MessageAt(std::int32_t k) { return MessageIn(SysExData, SysExLen, Grown(), k); }

MessageList StoreMessages() { return {SysExCount, &MessageAt}; }

void ResetStoreForTests() {
    std::memset(SysExData, 0, sizeof SysExData);
    std::memset(SysExLen, 0, sizeof SysExLen);
    SysExCount = 0;
    StoreWriting().Restart();
}

}  // namespace sysex
