// Capturing and restoring the loop engine's sound state.
#include "vexla/engine/Scene.h"

#include "vexla/controls/Controls.h"
#include "vexla/engine/LoopEngine.h"

#include <cstddef>

namespace vexla {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

template <typename T, std::size_t N>
void loadAll(std::array<T, N>& to, const std::array<std::atomic<T>, N>& from) {
    for (std::size_t i = 0; i < N; ++i)
        to[i] = from[i].load(kRelaxed);
}

template <typename T, std::size_t N>
void storeAll(std::array<std::atomic<T>, N>& to, const std::array<T, N>& from) {
    for (std::size_t i = 0; i < N; ++i)
        to[i].store(from[i], kRelaxed);
}

BassPattern captureBass(const BassVoice& v) {
    BassPattern b;
    loadAll(b.notes, v.notes);
    loadAll(b.gates, v.gates);
    b.mode = v.mode.load(kRelaxed);
    b.clip = v.clip.load(kRelaxed);
    b.echoSend = v.echoSend.load(kRelaxed);
    b.resonance = v.resonance.load(kRelaxed);
    b.envelopeRate = v.envelopeRate.load(kRelaxed);
    b.pwmLfoRate = v.pwmLfoRate.load(kRelaxed);
    b.pwmLfoDepth = v.pwmLfoDepth.load(kRelaxed);
    b.cutoffLfoRate = v.cutoffLfoRate.load(kRelaxed);
    b.cutoffLfoDepth = v.cutoffLfoDepth.load(kRelaxed);
    return b;
}

void applyBass(BassVoice& v, const BassPattern& b) {
    storeAll(v.notes, b.notes);
    storeAll(v.gates, b.gates);
    v.mode.store(b.mode, kRelaxed);
    v.clip.store(b.clip, kRelaxed);
    v.echoSend.store(b.echoSend, kRelaxed);
    v.resonance.store(b.resonance, kRelaxed);
    v.envelopeRate.store(b.envelopeRate, kRelaxed);
    v.pwmLfoRate.store(b.pwmLfoRate, kRelaxed);
    v.pwmLfoDepth.store(b.pwmLfoDepth, kRelaxed);
    v.cutoffLfoRate.store(b.cutoffLfoRate, kRelaxed);
    v.cutoffLfoDepth.store(b.cutoffLfoDepth, kRelaxed);
}

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
    SceneState s;
    s.controls = captureControls(e.params);
    s.bass1 = captureBass(e.bass1);
    s.bass2 = captureBass(e.bass2);
    s.kick.startFreq = e.kick.startFreq.load(kRelaxed);
    s.kick.slide1 = e.kick.slide1.load(kRelaxed);
    loadAll(s.hats.levels, e.hats.levels);
    loadAll(s.hats.decays, e.hats.decays);
    s.hats.accentOff = e.hats.accentOff.load(kRelaxed);
    s.hats.echoSend = e.hats.echoSend.load(kRelaxed);
    loadAll(s.sine.notes, e.sine.notes);
    loadAll(s.sine.levels, e.sine.levels);
    loadAll(s.sine.decays, e.sine.decays);
    s.sine.echoSend = e.sine.echoSend.load(kRelaxed);
    const SceneState& sent = e.sentPatterns();
    s.slicer = sent.slicer;
    s.am = sent.am;
    s.secondLooper = sent.secondLooper;
    s.echoReadPos = e.echoReadPos();
    return s;
}

void applyScene(LoopEngine& e, const SceneState& s, unsigned parts) {
    applySceneValues(e, s, parts & ~kSceneWindowPatterns);
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
        applyBass(e.bass1, s.bass1);
    if (parts & kSceneBass2)
        applyBass(e.bass2, s.bass2);
    if (parts & kSceneKick) {
        e.kick.startFreq.store(s.kick.startFreq, kRelaxed);
        e.kick.slide1.store(s.kick.slide1, kRelaxed);
    }
    if (parts & kSceneHats) {
        storeAll(e.hats.levels, s.hats.levels);
        storeAll(e.hats.decays, s.hats.decays);
        e.hats.accentOff.store(s.hats.accentOff, kRelaxed);
        e.hats.echoSend.store(s.hats.echoSend, kRelaxed);
    }
    if (parts & kSceneSine) {
        storeAll(e.sine.notes, s.sine.notes);
        storeAll(e.sine.levels, s.sine.levels);
        storeAll(e.sine.decays, s.sine.decays);
        e.sine.echoSend.store(s.sine.echoSend, kRelaxed);
    }
    if (parts & kSceneSlicer)
        e.slicer.pattern = s.slicer;
    if (parts & kSceneAm)
        e.ringModulator.setting = s.am;
    if (parts & kSceneSecondLooper)
        e.secondLooperSends = s.secondLooper;
}

} // namespace vexla
