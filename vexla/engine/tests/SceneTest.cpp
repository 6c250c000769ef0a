// Scenes in the engine: a posted scene taken exactly at the next step boundary.
#include "vexla/engine/Scene.h"
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/VcfFilterSetting.h"
#include "vexla/engine/tests/EngineTestSupport.h"

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

} // namespace
} // namespace vexla
