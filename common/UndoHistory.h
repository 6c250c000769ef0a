// A bounded undo/redo history of whole-state snapshots. Window (control) thread only; all storage is
// allocated by the constructor, so recording and stepping never allocate beyond the snapshots' own copies.
#pragma once

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

namespace common {

/// Snapshot must be default-constructible and copy-assignable. The oldest entry is dropped when the
/// history is full; a new record() forgets everything that could have been redone.
template <typename Snapshot> class UndoHistory {
  public:
    static constexpr std::size_t kDefaultDepth = 128;

    /// depth >= 1: how many steps back (and forward) are kept.
    explicit UndoHistory(std::size_t depth = kDefaultDepth)
        : undo_(depth > 0 ? depth : 1), redo_(depth > 0 ? depth : 1) {}

    std::size_t depth() const { return undo_.capacity(); }
    std::size_t undoCount() const { return undo_.size(); }
    std::size_t redoCount() const { return redo_.size(); }
    bool canUndo() const { return undo_.size() > 0; }
    bool canRedo() const { return redo_.size() > 0; }

    /// The state the next undo() or redo() would return, or null.
    const Snapshot* peekUndo() const { return undo_.top(); }
    const Snapshot* peekRedo() const { return redo_.top(); }

    /// Keeps the state that a change is about to replace.
    void record(const Snapshot& before) {
        undo_.push(before);
        redo_.clear();
    }

    /// One step back: `current` is kept for redo; returns the state to restore, or nothing when there
    /// is nothing to undo (then `current` is not kept).
    std::optional<Snapshot> undo(const Snapshot& current) {
        if (!canUndo())
            return std::nullopt;
        redo_.push(current);
        return undo_.pop();
    }

    /// One step forward again: `current` is kept for undo; returns the state to restore, or nothing.
    std::optional<Snapshot> redo(const Snapshot& current) {
        if (!canRedo())
            return std::nullopt;
        undo_.push(current);
        return redo_.pop();
    }

    void clear() {
        undo_.clear();
        redo_.clear();
    }

  private:
    // A stack that overwrites its oldest entry when full.
    class Ring {
      public:
        explicit Ring(std::size_t capacity) : slots_(capacity) {}
        std::size_t capacity() const { return slots_.size(); }
        std::size_t size() const { return size_; }
        void clear() { size_ = 0; }
        void push(const Snapshot& s) {
            slots_[top_] = s;
            top_ = (top_ + 1) % slots_.size();
            if (size_ < slots_.size())
                ++size_;
        }
        const Snapshot* top() const {
            return size_ == 0 ? nullptr : &slots_[(top_ + slots_.size() - 1) % slots_.size()];
        }
        Snapshot pop() {
            top_ = (top_ + slots_.size() - 1) % slots_.size();
            --size_;
            return std::move(slots_[top_]);
        }

      private:
        std::vector<Snapshot> slots_;
        std::size_t top_ = 0; // index of the next push
        std::size_t size_ = 0;
    };

    Ring undo_;
    Ring redo_;
};

/// The re-roll history of both programs, as a base: each entry is a whole state with the parts (a bit set)
/// its change touched; undo and redo restore those parts, and keep the present state of the same parts for
/// the way back. `Derived` gives `State present()` and `void restore(const State&, unsigned parts)`.
template <class Derived, typename State> class PartsHistory {
  public:
    explicit PartsHistory(std::size_t depth) : history_(depth) {}

    /// One re-roll back or forward; false, and nothing is asked of Derived, when there is none.
    bool undo() { return step(false); }
    bool redo() { return step(true); }
    std::size_t undoCount() const { return history_.undoCount(); }
    std::size_t redoCount() const { return history_.redoCount(); }

  protected:
    /// Keeps `before`, the state whose `parts` a change is about to replace.
    void keepState(const State& before, unsigned parts) { history_.record(Entry{before, parts}); }

  private:
    struct Entry {
        State state;
        unsigned parts = 0;
    };

    bool step(bool forward) {
        const Entry* top = forward ? history_.peekRedo() : history_.peekUndo();
        if (top == nullptr)
            return false;
        Derived& self = static_cast<Derived&>(*this);
        // The entry kept for the way back names the same parts as the one it mirrors.
        const Entry here{self.present(), top->parts};
        const Entry target = *(forward ? history_.redo(here) : history_.undo(here));
        self.restore(target.state, target.parts);
        return true;
    }

    UndoHistory<Entry> history_;
};

} // namespace common
