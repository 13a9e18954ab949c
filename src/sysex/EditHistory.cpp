#include "sysex/EditHistory.h"

#include <new>

#include "common/Failure.h"

namespace sysex {

bool EditHistory::GiveUpOldest() {
    if (!redo_.empty()) {
        redo_.clear();
        redo_.shrink_to_fit();
        if (saved_ > undo_.size()) saved_ = Unreachable;
        return true;
    }
    if (undo_.empty()) return false;
    // Half at a time: a store near the memory's end would otherwise retry once per step.
    const std::size_t drop = (undo_.size() + 1) / 2;
    undo_.erase(undo_.begin(), undo_.begin() + static_cast<std::ptrdiff_t>(drop));
    saved_ = saved_ != Unreachable && saved_ >= drop ? saved_ - drop : Unreachable;
    return true;
}

void EditHistory::Do(const std::function<StoreEdit(StoreEditor&)>& edit) {
    for (;;) {
        try {
            undo_.reserve(undo_.size() + 1);
            StoreEdit inverse = edit(editor_);
            if (saved_ != Unreachable && saved_ > undo_.size()) saved_ = Unreachable;
            undo_.push_back(std::move(inverse));
            redo_.clear();
            return;
        } catch (const std::bad_alloc&) {
            if (!GiveUpOldest()) throw kelvane::Failure(EditOutOfMemoryText());
        }
    }
}

bool EditHistory::Step(std::vector<StoreEdit>& from, std::vector<StoreEdit>& to, StoreEdit* applied) {
    if (from.empty()) return false;
    for (;;) {
        try {
            to.reserve(to.size() + 1);
            StoreEdit inverse = editor_.Apply(from.back());
            if (applied) *applied = std::move(from.back());
            from.pop_back();
            to.push_back(std::move(inverse));
            return true;
        } catch (const std::bad_alloc&) {
            // Steps on the other side may go, the one being taken may not.
            std::vector<StoreEdit>& other = &from == &undo_ ? redo_ : undo_;
            if (other.empty()) throw kelvane::Failure(EditOutOfMemoryText());
            other.clear();
            other.shrink_to_fit();
            saved_ = Unreachable;
        }
    }
}

bool EditHistory::Undo(StoreEdit* undone) { return Step(undo_, redo_, undone); }

bool EditHistory::Redo(StoreEdit* redone) { return Step(redo_, undo_, redone); }

void EditHistory::Clear() {
    undo_.clear();
    redo_.clear();
    saved_ = 0;
}

void EditHistory::MarkSaved() { saved_ = undo_.size(); }

}  // namespace sysex
