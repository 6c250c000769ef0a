// Undo and redo of every re-roll: the exact tables back, a history at least 100 deep, and the same
// while a render thread runs; and a posted scene taken exactly at the next step boundary.
#include "vexla/engine/ReRollHistory.h"
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/Scene.h"
#include "vexla/engine/tests/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vexla {
namespace {

struct Machine {
    std::unique_ptr<LoopEngine> engine = std::make_unique<LoopEngine>();
    common::Random windowRandom;
    ReRollHistory history{*engine};
    Machine() {
        startUp(*engine, windowRandom, 2024);
        testing::makeEverythingSound(*engine, windowRandom);
    }
    /// Two whole steps: any request or posted state is served by then.
    void renderSteps() {
        testing::renderInBlocks(*engine, 2 * 5001, 256);
        engine->collectChanges(); // as the window's timer does
    }
    /// What "Set step!" does with a count, keeping what it changes.
    void setSteps(int count) {
        history.keep(ReRollHistory::partsOf("Set step!"));
        engine->params.stepCount = count;
        engine->regenerateAll(windowRandom);
    }
};

class ReRollUndo : public ::testing::TestWithParam<std::string> {};

TEST_P(ReRollUndo, UndoAndRedoBringBackTheExactState) {
    Machine m;
    m.renderSteps();
    const SceneState before = captureScene(*m.engine);
    int presses = 0;
    do { // a re-roll may draw what was there (the echo has five delays): press until it changes
        if (GetParam() == "Set step!")
            m.setSteps(5 + presses);
        else
            ASSERT_TRUE(m.history.press(m.windowRandom, GetParam()));
        ++presses;
        m.renderSteps();
    } while (captureScene(*m.engine) == before && presses < 10);
    const SceneState after = captureScene(*m.engine);
    ASSERT_FALSE(after == before);

    for (int i = 0; i < presses; ++i)
        ASSERT_TRUE(m.history.undo());
    m.renderSteps();
    EXPECT_TRUE(captureScene(*m.engine) == before);
    for (int i = 0; i < presses; ++i)
        ASSERT_TRUE(m.history.redo());
    m.renderSteps();
    EXPECT_TRUE(captureScene(*m.engine) == after);
    EXPECT_FALSE(m.history.redo());
}

// Named by number; a failure prints the caption.
INSTANTIATE_TEST_SUITE_P(EveryButton, ReRollUndo,
                         ::testing::Values("Sequence", "AM Alter", "Echo Alter", "Kick", "Bassline 1",
                                           "Bassline 2", "Sine", "HiHats", "2nd Looper", "Slicer",
                                           "Set step!"));

TEST(ReRollHistory, KeepsAtLeastAHundredReRollsAndForgetsTheOldest) {
    Machine m;
    std::vector<SceneState> states{captureScene(*m.engine)};
    const int presses = static_cast<int>(ReRollHistory::kDepth) + 20;
    static_assert(ReRollHistory::kDepth >= 100);
    for (int i = 0; i < presses; ++i) {
        m.history.press(m.windowRandom, i % 2 ? "AM Alter" : "Slicer");
        states.push_back(captureScene(*m.engine));
    }
    for (std::size_t back = 1; back <= ReRollHistory::kDepth; ++back) {
        ASSERT_TRUE(m.history.undo());
        ASSERT_TRUE(captureScene(*m.engine) == states[states.size() - 1 - back]) << back << " back";
    }
    EXPECT_FALSE(m.history.undo());
}

TEST(SceneRender, UndoAndRedoWhileTheRenderRunsBringBackTheExactStates) {
    common::Random window;
    auto engine = std::make_unique<LoopEngine>();
    startUp(*engine, window, 5);
    testing::makeEverythingSound(*engine, window);
    engine->params.samplesPerStep = 2000;
    ReRollHistory history(*engine);
    testing::RenderThread render(*engine);
    ASSERT_TRUE(testing::settle(*engine));
    const SceneState start = captureScene(*engine);
    for (int i = 0; i < 90; ++i)
        history.press(window, kEngineButtons[window.below(int(std::size(kEngineButtons)))].caption);
    ASSERT_TRUE(testing::settle(*engine));
    const SceneState end = captureScene(*engine);
    ASSERT_FALSE(end == start);
    int undone = 0;
    while (history.undo())
        ++undone;
    ASSERT_TRUE(testing::settle(*engine));
    EXPECT_TRUE(captureScene(*engine) == start) << undone << " undone";
    for (int i = 0; i < undone; ++i)
        ASSERT_TRUE(history.redo());
    ASSERT_TRUE(testing::settle(*engine));
    EXPECT_TRUE(captureScene(*engine) == end);
}

// ---- a posted scene taken exactly at the next step boundary ------------------------------------------

// Appends `frames` frames rendered in blocks of 64.
void renderMore(LoopEngine& engine, std::vector<std::int16_t>& out, int frames) {
    const auto more = testing::renderInBlocks(engine, frames, 64);
    out.insert(out.end(), more.begin(), more.end());
}

// Renders frame by frame until the next frame starts a step.
void renderToBoundary(LoopEngine& engine, std::vector<std::int16_t>& out) {
    do
        renderMore(engine, out, 1);
    while (engine.sampleInStep() != 0);
}

TEST(Scene, PostedSceneIsTakenExactlyAtTheNextStepBoundary) {
    auto live = testing::makeRichEngine(3);
    auto reference = testing::makeRichEngine(3);
    const SceneState other = captureScene(*testing::makeRichEngine(42));
    auto liveOut = testing::renderInBlocks(*live, 2 * 4411 + 1234, 64); // into the third step
    auto referenceOut = testing::renderInBlocks(*reference, 2 * 4411 + 1234, 64);
    const SceneState before = captureScene(*live);
    live->postScene(other, kSceneEverything);
    renderToBoundary(*live, liveOut);
    SceneState beforeBoundary = captureScene(*live);
    // What the window keeps itself (the echo setting and its re-rolled patterns) counts from the post.
    beforeBoundary.echoReadPos = live->echo.settingReadPos();
    EXPECT_TRUE(beforeBoundary.slicer == other.slicer && beforeBoundary.am == other.am &&
                beforeBoundary.secondLooper == other.secondLooper);
    copySceneParts(beforeBoundary, before, kScenePatterns);
    EXPECT_TRUE(beforeBoundary == before) << "taken before the boundary";
    EXPECT_TRUE(live->slicer.pattern == before.slicer && live->ringModulator.setting == before.am)
        << "taken before the boundary";
    renderToBoundary(*reference, referenceOut);
    applyScene(*reference, other, kSceneEverything);
    const int stepBefore = live->currentStep();
    renderMore(*live, liveOut, 3 * 4411);
    renderMore(*reference, referenceOut, 3 * 4411);
    EXPECT_TRUE(captureScene(*live) == other);
    EXPECT_EQ(liveOut, referenceOut);
    EXPECT_EQ(stepBefore, 3); // the loop went on in time: no restart at step 0
}

} // namespace
} // namespace vexla
