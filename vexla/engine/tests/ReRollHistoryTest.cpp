// Undo and redo of every re-roll: the exact tables back, at the next step boundary for the voices the
// render regenerates, a history at least 100 deep, and the same while a render thread runs.
#include "vexla/engine/ReRollHistory.h"
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/Scene.h"
#include "vexla/engine/VcfFilterSetting.h"
#include "vexla/engine/tests/EngineTestSupport.h"
#include "vexla/engine/tests/OneFrame.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
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
        for (int i = 0; i < 2 * 5001; ++i)
            testing::renderOne(*engine);
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

INSTANTIATE_TEST_SUITE_P(EveryButton, ReRollUndo,
                         ::testing::Values("Sequence", "AM Alter", "Echo Alter", "Kick", "Bassline 1",
                                           "Bassline 2", "Sine", "HiHats", "2nd Looper", "Slicer",
                                           "Set step!"),
                         [](const auto& info) {
                             std::string name;
                             for (char c : info.param)
                                 if (std::isalnum(static_cast<unsigned char>(c)))
                                     name += c;
                             return name;
                         });

TEST(ReRollHistory, RequestedVoiceComesBackAtTheNextStepBoundaryNotBefore) {
    Machine m;
    m.renderSteps();
    const SceneState before = captureScene(*m.engine);
    m.history.press(m.windowRandom, "Bassline 1");
    m.renderSteps();
    const SceneState rolled = captureScene(*m.engine);
    ASSERT_FALSE(rolled.bass1 == before.bass1);
    while (m.engine->sampleInStep() != 1) // just after a boundary
        testing::renderOne(*m.engine);
    m.history.undo();
    EXPECT_TRUE(captureLatest(*m.engine).bass1 == before.bass1); // what the window sees at once
    for (int i = 0; i < 4000; ++i)
        testing::renderOne(*m.engine);
    EXPECT_TRUE(m.engine->bass1.pattern == rolled.bass1); // the render still plays the step out
    while (m.engine->sampleInStep() != 0)
        testing::renderOne(*m.engine);
    testing::renderOne(*m.engine);
    EXPECT_TRUE(m.engine->bass1.pattern == before.bass1);
    m.engine->collectChanges();
    EXPECT_TRUE(captureScene(*m.engine).bass1 == before.bass1);
}

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

// Renders as fast as it can on its own thread, as the audio thread would.
class RenderThread {
  public:
    explicit RenderThread(LoopEngine& engine)
        : thread_([this, &engine] {
              std::vector<std::int16_t> buffer(2 * 64);
              while (!stop_.load())
                  engine.renderBlock(buffer.data(), static_cast<int>(buffer.size() * 2));
          }) {}
    ~RenderThread() {
        stop_ = true;
        thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

/// Waits until no request and no posted state is left for the render to take.
void settle(LoopEngine& engine) {
    const EngineParams& p = engine.params;
    SceneState posted;
    unsigned parts = 0;
    for (int i = 0; i < 20000; ++i) {
        bool requested = false;
        for (Request which : {Request::Hats, Request::Sine, Request::Bass1, Request::Bass2, Request::Kick})
            requested = requested || engine.requestPending(which);
        if (!requested && !engine.scenePending(posted, parts)) {
            // One more whole step, so that a step that began before the check has ended.
            const int step = p.playingStep.load();
            while (p.playingStep.load() == step)
                std::this_thread::yield();
            engine.collectChanges(); // the served requests' patterns reach the window's copy
            return;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    FAIL() << "the render never took what was handed over";
}

TEST(SceneRender, UndoAndRedoWhileTheRenderRunsBringBackTheExactStates) {
    common::Random window;
    auto engine = std::make_unique<LoopEngine>();
    startUp(*engine, window, 5);
    testing::makeEverythingSound(*engine, window);
    engine->params.samplesPerStep = 2000;
    ReRollHistory history(*engine);
    RenderThread render(*engine);
    settle(*engine);
    const SceneState start = captureScene(*engine);
    static constexpr const char* kCaptions[] = {"Sequence",   "AM Alter",   "Echo Alter", "Kick",
                                                "Bassline 1", "Bassline 2", "Sine",       "HiHats",
                                                "2nd Looper", "Slicer"};
    for (int i = 0; i < 90; ++i)
        history.press(window, kCaptions[window.below(10)]);
    settle(*engine);
    const SceneState end = captureScene(*engine);
    ASSERT_FALSE(end == start);
    int undone = 0;
    while (history.undo())
        ++undone;
    settle(*engine);
    EXPECT_TRUE(captureScene(*engine) == start) << undone << " undone";
    for (int i = 0; i < undone; ++i)
        ASSERT_TRUE(history.redo());
    settle(*engine);
    EXPECT_TRUE(captureScene(*engine) == end);
}

} // namespace
} // namespace vexla
