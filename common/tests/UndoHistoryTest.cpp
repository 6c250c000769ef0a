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
    for (state = 5; state > 0; --state)
        ASSERT_EQ(h.undo(state), state - 1);
    EXPECT_FALSE(h.undo(state));
    for (state = 0; state < 5; ++state)
        ASSERT_EQ(h.redo(state), state + 1);
    EXPECT_FALSE(h.redo(state));
    // A new change forgets what could have been redone.
    state = *h.undo(state);
    h.record(state);
    EXPECT_FALSE(h.canRedo());
}

} // namespace
