// Scenes in the engine: a posted scene taken exactly at the next step boundary, and the published step
// and peaks.
#include "vexla/engine/Scene.h"
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/VcfFilterSetting.h"
#include "vexla/engine/tests/EngineTestSupport.h"
#include "vexla/engine/tests/OneFrame.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace vexla {
namespace {

using testing::makeRichEngine;
using testing::renderInBlocks;

// Renders frame by frame until the next frame starts a step.
void renderToBoundary(LoopEngine& engine, std::vector<std::int16_t>& out) {
    do {
        const testing::OutputFrame f = testing::renderOne(engine);
        out.push_back(f.left);
        out.push_back(f.right);
    } while (engine.sampleInStep() != 0);
}

TEST(Scene, PostedSceneIsTakenExactlyAtTheNextStepBoundary) {
    auto live = makeRichEngine(3);
    auto reference = makeRichEngine(3);
    const SceneState other = captureScene(*makeRichEngine(42));
    std::vector<std::int16_t> liveOut, referenceOut;
    for (int i = 0; i < 2 * 4411 + 1234; ++i) { // into the third step
        const testing::OutputFrame a = testing::renderOne(*live);
        const testing::OutputFrame b = testing::renderOne(*reference);
        liveOut.insert(liveOut.end(), {a.left, a.right});
        referenceOut.insert(referenceOut.end(), {b.left, b.right});
    }
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
    for (int i = 0; i < 3 * 4411; ++i) {
        const testing::OutputFrame a = testing::renderOne(*live);
        const testing::OutputFrame b = testing::renderOne(*reference);
        liveOut.insert(liveOut.end(), {a.left, a.right});
        referenceOut.insert(referenceOut.end(), {b.left, b.right});
    }
    EXPECT_TRUE(captureScene(*live) == other);
    EXPECT_EQ(liveOut, referenceOut);
    EXPECT_EQ(stepBefore, 3); // the loop went on in time: no restart at step 0
}

TEST(EngineReports, PlayingStepIsPublishedOnEachBoundaryAndStandsWhenStopped) {
    auto engine = testing::makeQuietEngine();
    engine->params.stepCount = 5;
    engine->params.samplesPerStep = 2000;
    for (int frame = 0; frame < 12 * 2001; ++frame) {
        testing::renderOne(*engine);
        ASSERT_EQ(engine->params.playingStep.load(), (frame / 2001) % 5) << "frame " << frame;
    }
    engine->params.running = false;
    for (int frame = 0; frame < 5000; ++frame)
        testing::renderOne(*engine);
    EXPECT_EQ(engine->params.playingStep.load(), (12 * 2001 - 1) / 2001 % 5);
}

TEST(EngineReports, PeaksHoldTheLargestMagnitudeAndFallOnePerFrame) {
    auto engine = makeRichEngine(5);
    int left = 0, right = 0, highest = 0;
    for (int frame = 0; frame < 40000; ++frame) {
        const testing::OutputFrame f = testing::renderOne(*engine);
        left = std::max(left - 1, std::abs(int{f.left}));
        right = std::max(right - 1, std::abs(int{f.right}));
        left = std::max(left, 0);
        right = std::max(right, 0);
        ASSERT_EQ(engine->params.peakLeft.load(), left) << "frame " << frame;
        ASSERT_EQ(engine->params.peakRight.load(), right) << "frame " << frame;
        highest = std::max(highest, left);
    }
    EXPECT_GT(highest, 1000); // the meters had something to show
    engine->params.running = false;
    const int start = engine->params.peakLeft.load();
    for (int frame = 1; frame <= 40000; ++frame) {
        testing::renderOne(*engine);
        ASSERT_EQ(engine->params.peakLeft.load(), std::max(start - frame, 0));
    }
    EXPECT_EQ(engine->params.peakRight.load(), 0);
}

} // namespace
} // namespace vexla
