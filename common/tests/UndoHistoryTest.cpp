// Undo history: order of steps and the redo branch. Its bounded depth is checked through Zintor's
// ReRollHistory, which keeps 128 re-rolls.
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

} // namespace
