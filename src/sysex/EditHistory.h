#pragma once
// Undo and redo over the store's edits (sysex/StoreEdit.h): each step keeps only the inverse
// of what it did, so steps are kept as long as memory allows. When an edit finds no memory, the
// oldest steps go first; only when there are none left to give up is the edit refused.
// It also tells whether the store differs from what was last loaded or saved.
// No Qt; the store's thread.

#include <cstddef>
#include <functional>
#include <vector>

#include "sysex/StoreEdit.h"

namespace sysex {

class EditHistory {
public:
    explicit EditHistory(StoreEditor& editor = StoreEditing()) : editor_(editor) {}

    // Runs an edit (which returns its inverse) and keeps it as the newest step; the steps undone
    // before are given up. Throws kelvane::Failure (EditOutOfMemoryText) when memory does not
    // suffice even without any step, and what the edit throws otherwise; the store and the
    // history are then as they were (but for steps given up for memory).
    void Do(const std::function<StoreEdit(StoreEditor&)>& edit);
    // Undoes the newest step (redoes the last undone one) and gives the edit applied to do so,
    // so the caller can show where it happened. False when there is none.
    bool Undo(StoreEdit* undone = nullptr);
    bool Redo(StoreEdit* redone = nullptr);
    bool CanUndo() const { return !undo_.empty(); }
    bool CanRedo() const { return !redo_.empty(); }

    // The store now holds what a file holds (a load, a save): no step, or this one, is unsaved.
    void Clear();
    void MarkSaved();
    // Whether the store differs from its state at the last Clear() or MarkSaved().
    bool Modified() const { return saved_ != undo_.size(); }

private:
    bool Step(std::vector<StoreEdit>& from, std::vector<StoreEdit>& to, StoreEdit* applied);
    bool GiveUpOldest();

    static constexpr std::size_t Unreachable = static_cast<std::size_t>(-1);
    StoreEditor& editor_;
    std::vector<StoreEdit> undo_;
    std::vector<StoreEdit> redo_;
    std::size_t saved_ = 0;  // undo_.size() when the store was as saved; Unreachable when no longer
};

}  // namespace sysex
