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

// Appends `frames` frames rendered in blocks of 64.
void renderMore(LoopEngine& engine, std::vector<std::int16_t>& out, int frames) {
    const auto more = renderInBlocks(engine, frames, 64);
    out.insert(out.end(), more.begin(), more.end());
}

// Renders frame by frame until the next frame starts a step.
void renderToBoundary(LoopEngine& engine, std::vector<std::int16_t>& out) {
    do
        renderMore(engine, out, 1);
    while (engine.sampleInStep() != 0);
}

TEST(Scene, PostedSceneIsTakenExactlyAtTheNextStepBoundary) {
    auto live = makeRichEngine(3);
    auto reference = makeRichEngine(3);
    const SceneState other = captureScene(*makeRichEngine(42));
    auto liveOut = renderInBlocks(*live, 2 * 4411 + 1234, 64); // into the third step
    auto referenceOut = renderInBlocks(*reference, 2 * 4411 + 1234, 64);
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
