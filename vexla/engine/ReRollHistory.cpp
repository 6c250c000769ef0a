// Undo and redo of re-rolls over whole-state snapshots.
#include "vexla/engine/ReRollHistory.h"

#include "vexla/engine/EngineControls.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/engine/Scene.h"

namespace vexla {

namespace {
// Randomisers the window runs at once; the rest belong to the render.
constexpr unsigned kWindowParts = kSceneStepCount | kSceneSlicer | kSceneAm | kSceneEcho | kSceneSecondLooper;
} // namespace

SceneState captureLatest(const LoopEngine& engine) {
    SceneState posted;
    unsigned parts = 0;
    // Pending first: if it is taken meanwhile, the live values are the posted ones anyway.
    const bool pending = engine.scenePending(posted, parts);
    SceneState s = captureScene(engine);
    if (pending)
        copySceneParts(s, posted, parts);
    return s;
}

void restoreScene(LoopEngine& engine, const SceneState& state, unsigned parts) {
    // A re-roll still waiting for its boundary would overwrite what comes back.
    engine.cancelRequests(parts);
    const unsigned atOnce = (parts & kSceneControls) ? 0u : (parts & kWindowParts);
    applyScene(engine, state, atOnce);
    SceneState posted;
    unsigned pendingParts = 0;
    unsigned later = parts & ~atOnce;
    // A state still waiting must not bring back older values of what changed at once.
    if (engine.scenePending(posted, pendingParts) && (pendingParts & atOnce))
        later |= pendingParts & atOnce;
    if (later != 0)
        engine.postScene(state, later);
}

unsigned ReRollHistory::partsOf(std::string_view caption) {
    if (caption == "Set step!") // stepCount, then regenerateAll
        return kSceneStepCount | kSceneBass1 | kSceneBass2 | kSceneKick | kSceneSecondLooper | kSceneSlicer;
    const EngineButton* button = findEngineButton(caption);
    return button ? button->parts : 0;
}

void ReRollHistory::keep(unsigned parts) {
    keepState(captureLatest(engine_), parts);
}

bool ReRollHistory::press(common::Random& windowRandom, std::string_view caption) {
    const unsigned parts = partsOf(caption);
    if (parts == 0 || caption == "Set step!")
        return false;
    engine_.collectChanges(); // the requests served so far belong to the step kept
    const int request = findEngineButton(caption)->request;
    if (request < 0 || !engine_.requestPending(static_cast<Request>(request)))
        keep(parts);
    pressButton(engine_, windowRandom, caption);
    // A posted state not yet taken would bring back the old values of what just changed at once.
    SceneState posted;
    unsigned pendingParts = 0;
    if (engine_.scenePending(posted, pendingParts) && (pendingParts & parts & kWindowParts))
        engine_.postScene(captureScene(engine_), pendingParts & parts & kWindowParts);
    return true;
}

SceneState ReRollHistory::present() {
    engine_.collectChanges(); // the requests served so far belong to the step kept
    return captureLatest(engine_);
}

void ReRollHistory::restore(const SceneState& state, unsigned parts) {
    restoreScene(engine_, state, parts);
}

} // namespace vexla
