// Undo history: order of steps, the redo branch, and the bounded depth.
#include "common/UndoHistory.h"

#include <gtest/gtest.h>

namespace {

using common::UndoHistory;

TEST(UndoHistory, StepsBackAndForwardThroughEveryState) {
    UndoHistory<int> h(8);
    int state = 0;
    for (int i = 1; i <= 5; ++i) {
        h.record(state);
        state = i;
    }
    for (int expected = 4; expected >= 0; --expected) {
        auto back = h.undo(state);
        ASSERT_TRUE(back);
        state = *back;
        EXPECT_EQ(state, expected);
    }
    EXPECT_FALSE(h.undo(state));
    EXPECT_EQ(state, 0);
    for (int expected = 1; expected <= 5; ++expected) {
        auto fwd = h.redo(state);
        ASSERT_TRUE(fwd);
        state = *fwd;
        EXPECT_EQ(state, expected);
    }
    EXPECT_FALSE(h.redo(state));
    // A new change forgets what could have been redone.
    state = *h.undo(state);
    h.record(state);
    EXPECT_FALSE(h.canRedo());
}

TEST(UndoHistory, KeepsTheNewestDepthStatesAndDropsTheOldest) {
    constexpr int kDepth = UndoHistory<int>::kDefaultDepth;
    static_assert(kDepth >= 100);
    UndoHistory<int> h;
    int state = 0;
    for (int i = 1; i <= kDepth + 30; ++i) {
        h.record(state);
        state = i;
    }
    EXPECT_EQ(h.undoCount(), static_cast<std::size_t>(kDepth));
    int steps = 0;
    while (auto back = h.undo(state)) {
        state = *back;
        ++steps;
    }
    EXPECT_EQ(steps, kDepth);
    EXPECT_EQ(state, 30); // states 0..29 fell off the far end
    EXPECT_EQ(h.redoCount(), static_cast<std::size_t>(kDepth));
}

} // namespace
