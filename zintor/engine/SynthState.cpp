// Capturing and restoring the synth's sound state.
#include "zintor/engine/SynthState.h"

#include "zintor/engine/SynthEngine.h"

namespace zintor {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

/// Visits each control of the parts `parts` as (engine atomic, value in `a`, value in `b`).
template <class Engine, class StateA, class StateB, class Visit>
void forEachControl(Engine& engine, StateA& a, StateB& b, unsigned parts, Visit&& visit) {
    if (parts & kStateControls) {
        auto& p = engine.params;
        visit(p.samplesPerStep, a.controls.samplesPerStep, b.controls.samplesPerStep);
        visit(p.stepCount, a.controls.stepCount, b.controls.stepCount);
        visit(p.globalTranspose, a.controls.globalTranspose, b.controls.globalTranspose);
        visit(p.shuffleAmount, a.controls.shuffleAmount, b.controls.shuffleAmount);
        visit(p.masterGain, a.controls.masterGain, b.controls.masterGain);
        visit(p.subBassGain, a.controls.subBassGain, b.controls.subBassGain);
        visit(engine.kick.startIncrement, a.controls.kickStartIncrement, b.controls.kickStartIncrement);
        visit(engine.kick.pitchDecay, a.controls.kickPitchDecay, b.controls.kickPitchDecay);
        visit(engine.kick.volume, a.controls.kickVolume, b.controls.kickVolume);
        visit(engine.hitVoice.decay, a.controls.hitDecay, b.controls.hitDecay);
        visit(engine.hitVoice.tone, a.controls.hitTone, b.controls.hitTone);
        visit(engine.snareVoice.decay, a.controls.snareDecay, b.controls.snareDecay);
        visit(engine.snareVoice.tone, a.controls.snareTone, b.controls.snareTone);
        visit(engine.hatVoice.decay, a.controls.hatDecay, b.controls.hatDecay);
        visit(engine.hatVoice.tone, a.controls.hatTone, b.controls.hatTone);
    }
    const auto sound = [&](auto& controls, auto& x, auto& y) {
        visit(controls.filterType, x.filterType, y.filterType);
        visit(controls.cutoff, x.cutoff, y.cutoff);
        visit(controls.resonance, x.resonance, y.resonance);
        visit(controls.driveCeiling, x.driveCeiling, y.driveCeiling);
        visit(controls.volume, x.volume, y.volume);
        visit(controls.inertia, x.inertia, y.inertia);
        visit(controls.delaySend, x.delaySend, y.delaySend);
        visit(controls.osc1Level, x.osc1Level, y.osc1Level);
        visit(controls.osc2Level, x.osc2Level, y.osc2Level);
    };
    if (parts & kStateControls) {
        sound(engine.synthLine1, a.synthLine1.sound, b.synthLine1.sound);
        sound(engine.synthLine2, a.synthLine2.sound, b.synthLine2.sound);
    }
    if (parts & kStateSubBass)
        sound(engine.subBass, a.subBass.sound, b.subBass.sound);
}

} // namespace

SynthState captureState(const SynthEngine& engine) {
    SynthState state;
    const SynthState unused;
    forEachControl(engine, state, unused, kStateEverything,
                   [](const auto& atomic, auto& value, auto&) { value = atomic.load(kRelaxed); });
    state.synthLine1.phrase = engine.phrase(kSynthLine1);
    state.synthLine2.phrase = engine.phrase(kSynthLine2);
    state.subBass.phrase = engine.phrase(kSubBass);
    // A waiting state's controls, where the window has not set them since; its phrases are already in
    // the engine's record of what was sent.
    SynthState posted;
    SynthState before;
    unsigned parts = 0;
    if (engine.statePending(posted, before, parts)) {
        forEachControl(engine, posted, before, parts, [](const auto& atomic, auto& waiting, const auto& old) {
            if (atomic.load(kRelaxed) != old)
                waiting = atomic.load(kRelaxed); // the window has set it since: its value stays
        });
        forEachControl(engine, state, posted, parts,
                       [](const auto&, auto& shown, const auto& waiting) { shown = waiting; });
    }
    return state;
}

void applyState(SynthEngine& engine, const SynthState& state, unsigned parts) {
    engine.postState(state, parts);
    engine.settle();
}

void replaceControls(SynthEngine& engine, const SynthState& state, const SynthState& before, unsigned parts) {
    forEachControl(engine, state, before, parts, [](auto& atomic, const auto& value, const auto& old) {
        auto held = old; // compare_exchange writes the value it found here
        atomic.compare_exchange_strong(held, value, kRelaxed);
    });
}

void copyStateParts(SynthState& to, const SynthState& from, unsigned parts) {
    if (parts & kStateControls) {
        to.controls = from.controls;
        to.synthLine1.sound = from.synthLine1.sound;
        to.synthLine2.sound = from.synthLine2.sound;
    }
    if (parts & kStateLine1Phrase)
        to.synthLine1.phrase = from.synthLine1.phrase;
    if (parts & kStateLine2Phrase)
        to.synthLine2.phrase = from.synthLine2.phrase;
    if (parts & kStateSubBass)
        to.subBass = from.subBass;
}

} // namespace zintor
