// Capturing and restoring the loop engine's sound state.
#include "vexla/engine/Scene.h"

#include "vexla/controls/Controls.h"
#include "vexla/engine/LoopEngine.h"

#include <cstddef>

namespace vexla {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
} // namespace

void copySceneParts(SceneState& to, const SceneState& from, unsigned parts) {
    if (parts & kSceneControls)
        to.controls = from.controls;
    else if (parts & kSceneStepCount)
        to.controls.stepCount = from.controls.stepCount;
    if (parts & kSceneBass1)
        to.bass1 = from.bass1;
    if (parts & kSceneBass2)
        to.bass2 = from.bass2;
    if (parts & kSceneKick)
        to.kick = from.kick;
    if (parts & kSceneHats)
        to.hats = from.hats;
    if (parts & kSceneSine)
        to.sine = from.sine;
    if (parts & kSceneSlicer)
        to.slicer = from.slicer;
    if (parts & kSceneAm)
        to.am = from.am;
    if (parts & kSceneEcho)
        to.echoReadPos = from.echoReadPos;
    if (parts & kSceneSecondLooper)
        to.secondLooper = from.secondLooper;
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
        p.stepCount.store(s.controls.stepCount, kRelaxed);
    if (parts & kSceneBass1)
        e.bass1.pattern = s.bass1;
    if (parts & kSceneBass2)
        e.bass2.pattern = s.bass2;
    if (parts & kSceneKick)
        e.kick.pattern = s.kick;
    if (parts & kSceneHats)
        e.hats.pattern = s.hats;
    if (parts & kSceneSine)
        e.sine.pattern = s.sine;
    if (parts & kSceneSlicer)
        e.slicer.pattern = s.slicer;
    if (parts & kSceneAm)
        e.ringModulator.setting = s.am;
    if (parts & kSceneSecondLooper)
        e.secondLooperSends = s.secondLooper;
}

} // namespace vexla
