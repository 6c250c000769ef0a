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
    if (caption == "Sequence")
        return kSceneStepCount | kSceneBass1 | kSceneBass2;
    if (caption == "AM Alter")
        return kSceneAm;
    if (caption == "Echo Alter")
        return kSceneEcho;
    if (caption == "Kick")
        return kSceneKick;
    if (caption == "Bassline 1")
        return kSceneBass1;
    if (caption == "Bassline 2")
        return kSceneBass2;
    if (caption == "Sine")
        return kSceneSine;
    if (caption == "HiHats")
        return kSceneHats;
    if (caption == "2nd Looper")
        return kSceneSecondLooper;
    if (caption == "Slicer")
        return kSceneSlicer;
    if (caption == "Set step!") // stepCount, then regenerateAll
        return kSceneStepCount | kSceneBass1 | kSceneBass2 | kSceneKick | kSceneSecondLooper | kSceneSlicer;
    return 0;
}

void ReRollHistory::keep(unsigned parts) {
    history_.record(Entry{captureLatest(engine_), parts});
}

bool ReRollHistory::press(common::Random& windowRandom, std::string_view caption) {
    const unsigned parts = partsOf(caption);
    if (parts == 0 || caption == "Set step!")
        return false;
    engine_.collectChanges(); // the requests served so far belong to the step kept
    const LoopEngine& e = engine_;
    const bool alreadyRequested = (caption == "Kick" && e.requestPending(Request::Kick)) ||
                                  (caption == "Bassline 1" && e.requestPending(Request::Bass1)) ||
                                  (caption == "Bassline 2" && e.requestPending(Request::Bass2)) ||
                                  (caption == "Sine" && e.requestPending(Request::Sine)) ||
                                  (caption == "HiHats" && e.requestPending(Request::Hats));
    if (!alreadyRequested)
        keep(parts);
    pressButton(engine_, windowRandom, caption);
    // A posted state not yet taken would bring back the old values of what just changed at once.
    SceneState posted;
    unsigned pendingParts = 0;
    if (engine_.scenePending(posted, pendingParts) && (pendingParts & parts & kWindowParts))
        engine_.postScene(captureScene(engine_), pendingParts & parts & kWindowParts);
    return true;
}

bool ReRollHistory::undo() {
    const Entry* top = history_.peekUndo();
    if (top == nullptr)
        return false;
    engine_.collectChanges(); // the requests served so far belong to the step kept for redo
    // The entry kept for redo names the same parts as the one it mirrors.
    const Entry target = *history_.undo(Entry{captureLatest(engine_), top->parts});
    restoreScene(engine_, target.state, target.parts);
    return true;
}

bool ReRollHistory::redo() {
    const Entry* top = history_.peekRedo();
    if (top == nullptr)
        return false;
    engine_.collectChanges();
    const Entry target = *history_.redo(Entry{captureLatest(engine_), top->parts});
    restoreScene(engine_, target.state, target.parts);
    return true;
}

} // namespace vexla
