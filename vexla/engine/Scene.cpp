// Capturing and restoring the loop engine's sound state.
#include "vexla/engine/Scene.h"

#include "common/MemberPath.h"
#include "vexla/controls/Controls.h"
#include "vexla/engine/LoopEngine.h"

#include <cstddef>

namespace vexla {

namespace {
/// Each pattern part once: where a scene holds it, and the path from the engine to the unit's copy.
template <class Visit> void forEachPatternPart(Visit&& visit) {
    visit(kSceneBass1, &SceneState::bass1, &LoopEngine::bass1, &BassVoice::pattern);
    visit(kSceneBass2, &SceneState::bass2, &LoopEngine::bass2, &BassVoice::pattern);
    visit(kSceneKick, &SceneState::kick, &LoopEngine::kick, &KickVoice::pattern);
    visit(kSceneHats, &SceneState::hats, &LoopEngine::hats, &HatVoice::pattern);
    visit(kSceneSine, &SceneState::sine, &LoopEngine::sine, &SineVoice::pattern);
    visit(kSceneSlicer, &SceneState::slicer, &LoopEngine::slicer, &SlicerVoice::pattern);
    visit(kSceneAm, &SceneState::am, &LoopEngine::ringModulator, &RingModulator::setting);
    visit(kSceneSecondLooper, &SceneState::secondLooper, &LoopEngine::secondLooperSends);
}

using common::reach;

} // namespace

void copySceneParts(SceneState& to, const SceneState& from, unsigned parts) {
    if (parts & kSceneControls)
        to.controls = from.controls;
    else if (parts & kSceneStepCount)
        to.controls.stepCount = from.controls.stepCount;
    if (parts & kSceneEcho)
        to.echoReadPos = from.echoReadPos;
    forEachPatternPart([&](unsigned part, auto member, auto...) {
        if (parts & part)
            to.*member = from.*member;
    });
}

SceneState captureScene(const LoopEngine& e) {
    SceneState s = e.sentPatterns();
    s.controls = captureControls(e.params);
    s.echoReadPos = e.echoReadPos();
    return s;
}

void applyScene(LoopEngine& e, const SceneState& s, unsigned parts) {
    applySceneValues(e, s, parts & ~kScenePatterns);
    e.sendPatterns(s, parts);
    // Resetting an unchanged echo would restart its lines' write positions for nothing.
    if ((parts & kSceneEcho) && (s.echoReadPos & EchoUnit::kPositionMask) != e.echoReadPos())
        e.setEchoReadPos(s.echoReadPos);
}

void applySceneValues(LoopEngine& e, const SceneState& s, unsigned parts) {
    EngineParams& p = e.params;
    if (parts & kSceneControls)
        applyControls(p, s.controls);
    else if (parts & kSceneStepCount)
        p.stepCount.store(s.controls.stepCount, std::memory_order_relaxed);
    forEachPatternPart([&](unsigned part, auto member, auto... path) {
        if (parts & part)
            reach(e, path...) = s.*member;
    });
}

void captureUnitPatterns(const LoopEngine& e, SceneState& s, unsigned parts) {
    forEachPatternPart([&](unsigned part, auto member, auto... path) {
        if (parts & part)
            s.*member = reach(e, path...);
    });
}

} // namespace vexla
