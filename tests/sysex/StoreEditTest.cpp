// Edits of a store laid out like the real one (block of 1,000 slots, grown storage beyond): each
// edit gives the messages a plain list would hold, keeps the layout a load would leave, and is
// undone and redone exactly, also where messages cross the block's two limits.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Messages.h"
#include "common/Failure.h"
#include "sysex/EditHistory.h"
#include "sysex/StoreEdit.h"

namespace {

using testsupport::Bytes;
using sysex::MaxSysEx;
using sysex::MessageNumbers;
using Model = std::vector<Bytes>;

// A message whose bytes tell its seed apart from every other's; `total` bytes with F0 and F7.
Bytes Message(std::size_t total, unsigned seed) { return testsupport::PatternMessage(total, seed); }

constexpr std::size_t Long = sysex::SlotSize + 1;  // one byte more than a slot holds

class Store {
public:
    explicit Store(const Model& messages) : own_(new sysex::OwnStore), editor_(own_->data, own_->lengths, own_->count, own_->grown) {
        own_->writer.Restart();
        for (const Bytes& m : messages) {
            std::memcpy(own_->writer.Extend(m.size()), m.data(), m.size());
            own_->writer.Close();
        }
        own_->count = own_->writer.Count();
    }
    sysex::StoreEditor& Editor() { return editor_; }

    // The messages as readers see them, after checking the layout a load leaves.
    Model Messages() const {
        const std::int32_t count = own_->count;
        const std::int32_t inBlock = std::min(count, MaxSysEx);
        std::vector<std::int32_t> longOnes;
        for (std::int32_t k = 0; k < inBlock; ++k) {
            const std::uint16_t length = own_->lengths[k];
            if (length == 0) {
                longOnes.push_back(k);
                continue;
            }
            EXPECT_EQ(own_->data[k][0], 0xF0) << "slot " << k;
            EXPECT_EQ(own_->data[k][length], 0xF7) << "slot " << k;
        }
        std::vector<std::int32_t> listed;
        for (std::size_t i = 0; i < own_->grown.LongInBlock(); ++i) listed.push_back(own_->grown.LongInBlockNumber(i));
        EXPECT_EQ(listed, longOnes) << "long messages of the block";
        EXPECT_EQ(own_->grown.Count(), longOnes.size() + static_cast<std::size_t>(count - inBlock));
        for (const std::int32_t k : longOnes) EXPECT_GT(own_->At(k).size(), sysex::SlotSize) << "message " << k;
        Model messages;
        for (std::int32_t k = 0; k < count; ++k) {
            const sysex::MessageBytes m = own_->At(k);
            messages.emplace_back(m.begin(), m.end());
        }
        return messages;
    }

private:
    std::unique_ptr<sysex::OwnStore> own_;
    sysex::StoreEditor editor_;
};

Model Numbered(std::size_t count, const std::vector<std::pair<std::size_t, std::size_t>>& sizes = {}) {
    Model model;
    for (std::size_t k = 0; k < count; ++k) model.push_back(Message(8 + k % 5, static_cast<unsigned>(k)));
    for (const auto& [k, size] : sizes) model[k] = Message(size, static_cast<unsigned>(k));
    return model;
}

sysex::PackedMessages Packed(const Model& messages) {
    sysex::PackedMessages packed;
    for (const Bytes& m : messages) packed.Add(m);
    return packed;
}

void ModelRemove(Model& model, const MessageNumbers& which) {
    for (auto k = which.rbegin(); k != which.rend(); ++k) model.erase(model.begin() + *k);
}

void ModelInsert(Model& model, const MessageNumbers& at, const Model& messages) {
    for (std::size_t j = 0; j < at.size(); ++j) model.insert(model.begin() + at[j], messages[j]);
}

void ModelMove(Model& model, const MessageNumbers& from, const MessageNumbers& to) {
    Model moved;
    for (const std::int32_t k : from) moved.push_back(model[static_cast<std::size_t>(k)]);
    ModelRemove(model, from);
    ModelInsert(model, to, moved);
}

// An edit as the editor makes it, and what it does to a plain list.
struct Op {
    std::function<sysex::StoreEdit(sysex::StoreEditor&)> edit;
    std::function<void(Model&)> expected;
};

struct EditCase {
    std::string name;
    Model before;
    Op op;
};

std::vector<EditCase> EditCases() {
    const Model fresh{Message(6, 200), Message(Long + 10, 201), Message(3, 202)};
    auto remove = [](MessageNumbers which) {
        return Op{[which](sysex::StoreEditor& e) { return e.Remove(which); }, [which](Model& m) { ModelRemove(m, which); }};
    };
    auto insert = [fresh](MessageNumbers at) {
        const Model part(fresh.begin(), fresh.begin() + static_cast<std::ptrdiff_t>(at.size()));
        return Op{[at, part](sysex::StoreEditor& e) {
                      const sysex::PackedMessages packed = Packed(part);
                      return e.Insert(at, packed.List());
                  },
                  [at, part](Model& m) { ModelInsert(m, at, part); }};
    };
    auto move = [](MessageNumbers from, MessageNumbers to) {
        return Op{[from, to](sysex::StoreEditor& e) { return e.Move(from, to); }, [from, to](Model& m) { ModelMove(m, from, to); }};
    };
    auto replace = [](std::int32_t k, Bytes message) {
        return Op{[k, message](sysex::StoreEditor& e) { return e.Replace(k, message); },
                  [k, message](Model& m) { m[static_cast<std::size_t>(k)] = message; }};
    };

    const Model five = Numbered(5);
    const Model around = Numbered(1003);                                        // the block full, three beyond
    const Model longs = Numbered(1003, {{1, Long}, {998, Long + 3}, {1001, Long + 7}});
    return {
        {"remove the first", five, remove({0})},
        {"remove scattered", five, remove({0, 2, 4})},
        {"remove all", five, remove({0, 1, 2, 3, 4})},
        {"insert before the first", five, insert({0, 1})},
        {"insert after the last", five, insert({5})},
        {"insert scattered, one too long for a slot", five, insert({1, 3, 7})},
        {"swap two neighbours (a cycle of slots)", five, move({3}, {2})},
        {"scattered selection one place up", five, move({1, 3, 4}, {0, 2, 3})},
        {"replace, still in its slot", five, replace(2, Message(40, 77))},
        {"replace, now too long for its slot", five, replace(2, Message(Long, 78))},
        {"remove the first of a full block", around, remove({0})},
        {"remove across the block's end", around, remove({998, 999, 1000, 1002})},
        {"insert into a full block", around, insert({500})},
        {"move the last to the front", around, move({1002}, {0})},
        {"move the first to the end", around, move({0}, {1002})},
        {"rotate the whole block", around, move({0, 1, 2}, {997, 998, 999})},
        {"replace beyond the block", around, replace(1001, Message(12, 79))},
        {"remove before long messages", longs, remove({0})},
        {"insert pushes a long message out of the block", longs, insert({0, 1})},
        {"remove pulls a long message into the block", longs, remove({0, 1, 2})},
        {"move a long message within the block", longs, move({1}, {900})},
        {"replace a long message with a short one", longs, replace(998, Message(9, 80))},
    };
}

TEST(StoreEdit, EditsUndoAndRedoAcrossTheBlocksLimits) {
    for (const EditCase& c : EditCases()) {
        SCOPED_TRACE(c.name);
        Store store(c.before);
        sysex::EditHistory history(store.Editor());
        history.Do(c.op.edit);
        Model after = c.before;
        c.op.expected(after);
        ASSERT_EQ(store.Messages(), after);
        EXPECT_TRUE(history.Modified());
        ASSERT_TRUE(history.Undo());
        ASSERT_EQ(store.Messages(), c.before);
        EXPECT_FALSE(history.Modified());
        ASSERT_TRUE(history.Redo());
        ASSERT_EQ(store.Messages(), after);
        EXPECT_FALSE(history.Redo());
    }
}

TEST(StoreEdit, ManyStepsUndoBackToTheStart) {
    const Model start = Numbered(1005, {{3, Long}});
    Store store(start);
    sysex::EditHistory history(store.Editor());
    std::vector<Model> states{start};
    for (int step = 0; step < 12; ++step) {
        const auto k = static_cast<std::int32_t>(step * 83 % 1000);
        switch (step % 4) {
            case 0: history.Do([k](sysex::StoreEditor& e) { return e.Remove({k, k + 2}); }); break;
            case 1: history.Do([k](sysex::StoreEditor& e) { return e.Move({k}, {k + 5}); }); break;
            case 2: {
                const sysex::PackedMessages packed = Packed({Message(Long + static_cast<std::size_t>(step), 90)});
                history.Do([k, &packed](sysex::StoreEditor& e) { return e.InsertAt(k, packed.List()); });
                break;
            }
            default: history.Do([k](sysex::StoreEditor& e) { return e.Replace(k, Message(20, 91)); }); break;
        }
        states.push_back(store.Messages());
    }
    for (auto state = states.rbegin() + 1; state != states.rend(); ++state) {
        ASSERT_TRUE(history.Undo());
        ASSERT_EQ(store.Messages(), *state);
    }
    EXPECT_FALSE(history.Undo());
    EXPECT_FALSE(history.Modified());
}

TEST(StoreEdit, SavedStateAndAnEditAfterUndoing) {
    Store store(Numbered(4));
    sysex::EditHistory history(store.Editor());
    history.Do([](sysex::StoreEditor& e) { return e.Remove({0}); });
    history.MarkSaved();
    EXPECT_FALSE(history.Modified());
    history.Undo();
    EXPECT_TRUE(history.Modified());
    // A new edit gives up the undone step, and with it the saved state.
    history.Do([](sysex::StoreEditor& e) { return e.Remove({3}); });
    EXPECT_FALSE(history.CanRedo());
    EXPECT_TRUE(history.Modified());
    history.Undo();
    EXPECT_TRUE(history.Modified());
}

TEST(StoreEdit, WrongNumbersChangeNothing) {
    const Model five = Numbered(5);
    Store store(five);
    sysex::StoreEditor& e = store.Editor();
    EXPECT_THROW(e.Remove({5}), kelvane::Failure);
    EXPECT_THROW(e.Remove({2, 1}), kelvane::Failure);
    EXPECT_THROW(e.Move({1}, {5}), kelvane::Failure);
    EXPECT_THROW(e.Replace(1, Bytes{0xF0, 0xF7, 0xF7}), kelvane::Failure);
    const sysex::PackedMessages unterminated = Packed({Bytes{0xF0, 0x01}});
    EXPECT_THROW(e.InsertAt(0, unterminated.List()), kelvane::Failure);
    EXPECT_EQ(store.Messages(), five);
}

TEST(StoreEdit, WhereKeysAndDropsTakeASelection) {
    const struct {
        MessageNumbers selected;
        std::int32_t count;
        MessageNumbers up, down;
    } cases[] = {
        {{2}, 5, {1}, {3}},
        {{0, 1, 3}, 5, {0, 1, 2}, {1, 2, 4}},  // the top pair stays, the third closes up
        {{3, 4}, 5, {2, 3}, {3, 4}},
        {{0, 4}, 5, {0, 3}, {1, 4}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sysex::OnePlaceUp(c.selected), c.up);
        EXPECT_EQ(sysex::OnePlaceDown(c.selected, c.count), c.down);
    }
    EXPECT_EQ(sysex::DroppedBefore({1, 2}, 5), (MessageNumbers{3, 4}));
    EXPECT_EQ(sysex::DroppedBefore({1, 4}, 0), (MessageNumbers{0, 1}));
    EXPECT_EQ(sysex::DroppedBefore({0, 4}, 3), (MessageNumbers{2, 3}));
}

}  // namespace
