// Capturing and restoring the synth's sound state.
#include "zintor/engine/SynthState.h"

#include "zintor/engine/SynthEngine.h"

namespace zintor {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

PhraseState capturePhrase(const SynthVoice& v) {
    PhraseState p;
    for (int i = 0; i < kStatePhraseSteps; ++i) {
        p.notes[i] = v.notes[i].load(kRelaxed);
        p.staccato[i] = v.staccato[i].load(kRelaxed);
        p.envRates[i] = v.envRates[i].load(kRelaxed);
    }
    p.detune = v.detune.load(kRelaxed);
    p.lfoDepth = v.lfoDepth.load(kRelaxed);
    p.lfoRate = v.lfoRate.load(kRelaxed);
    p.square = v.square.load(kRelaxed);
    return p;
}

void applyPhrase(SynthVoice& v, const PhraseState& p) {
    for (int i = 0; i < kStatePhraseSteps; ++i) {
        v.notes[i].store(p.notes[i], kRelaxed);
        v.staccato[i].store(p.staccato[i], kRelaxed);
        v.envRates[i].store(p.envRates[i], kRelaxed);
    }
    v.detune.store(p.detune, kRelaxed);
    v.lfoDepth.store(p.lfoDepth, kRelaxed);
    v.lfoRate.store(p.lfoRate, kRelaxed);
    v.square.store(p.square, kRelaxed);
}

VoiceSound captureSound(const SynthVoice& v) {
    VoiceSound s;
    s.filterType = v.filterType.load(kRelaxed);
    s.cutoff = v.cutoff.load(kRelaxed);
    s.resonance = v.resonance.load(kRelaxed);
    s.driveCeiling = v.driveCeiling.load(kRelaxed);
    s.volume = v.volume.load(kRelaxed);
    s.inertia = v.inertia.load(kRelaxed);
    s.delaySend = v.delaySend.load(kRelaxed);
    s.osc1Level = v.osc1Level.load(kRelaxed);
    s.osc2Level = v.osc2Level.load(kRelaxed);
    return s;
}

void applySound(SynthVoice& v, const VoiceSound& s) {
    v.filterType.store(s.filterType, kRelaxed);
    v.cutoff.store(s.cutoff, kRelaxed);
    v.resonance.store(s.resonance, kRelaxed);
    v.driveCeiling.store(s.driveCeiling, kRelaxed);
    v.volume.store(s.volume, kRelaxed);
    v.inertia.store(s.inertia, kRelaxed);
    v.delaySend.store(s.delaySend, kRelaxed);
    v.osc1Level.store(s.osc1Level, kRelaxed);
    v.osc2Level.store(s.osc2Level, kRelaxed);
}

} // namespace

SynthState captureState(const SynthEngine& engine) {
    SynthState s;
    const SynthParams& p = engine.params;
    ControlState& c = s.controls;
    c.samplesPerStep = p.samplesPerStep.load(kRelaxed);
    c.stepCount = p.stepCount.load(kRelaxed);
    c.globalTranspose = p.globalTranspose.load(kRelaxed);
    c.shuffleAmount = p.shuffleAmount.load(kRelaxed);
    c.masterGain = p.masterGain.load(kRelaxed);
    c.subBassGain = p.subBassGain.load(kRelaxed);
    c.kickStartIncrement = engine.kick.startIncrement.load(kRelaxed);
    c.kickPitchDecay = engine.kick.pitchDecay.load(kRelaxed);
    c.kickVolume = engine.kick.volume.load(kRelaxed);
    c.hitDecay = engine.hitVoice.decay.load(kRelaxed);
    c.hitTone = engine.hitVoice.tone.load(kRelaxed);
    c.snareDecay = engine.snareVoice.decay.load(kRelaxed);
    c.snareTone = engine.snareVoice.tone.load(kRelaxed);
    c.hatDecay = engine.hatVoice.decay.load(kRelaxed);
    c.hatTone = engine.hatVoice.tone.load(kRelaxed);
    const SynthVoice* voices[3] = {&engine.synthLine1, &engine.synthLine2, &engine.subBass};
    VoiceState* states[3] = {&s.synthLine1, &s.synthLine2, &s.subBass};
    for (int i = 0; i < 3; ++i) {
        states[i]->phrase = capturePhrase(*voices[i]);
        states[i]->sound = captureSound(*voices[i]);
    }
    return s;
}

void applyState(SynthEngine& engine, const SynthState& s, unsigned parts) {
    if (parts & kStateControls) {
        SynthParams& p = engine.params;
        const ControlState& c = s.controls;
        p.samplesPerStep.store(c.samplesPerStep, kRelaxed);
        p.stepCount.store(c.stepCount, kRelaxed);
        p.globalTranspose.store(c.globalTranspose, kRelaxed);
        p.shuffleAmount.store(c.shuffleAmount, kRelaxed);
        p.masterGain.store(c.masterGain, kRelaxed);
        p.subBassGain.store(c.subBassGain, kRelaxed);
        engine.kick.startIncrement.store(c.kickStartIncrement, kRelaxed);
        engine.kick.pitchDecay.store(c.kickPitchDecay, kRelaxed);
        engine.kick.volume.store(c.kickVolume, kRelaxed);
        engine.hitVoice.decay.store(c.hitDecay, kRelaxed);
        engine.hitVoice.tone.store(c.hitTone, kRelaxed);
        engine.snareVoice.decay.store(c.snareDecay, kRelaxed);
        engine.snareVoice.tone.store(c.snareTone, kRelaxed);
        engine.hatVoice.decay.store(c.hatDecay, kRelaxed);
        engine.hatVoice.tone.store(c.hatTone, kRelaxed);
        applySound(engine.synthLine1, s.synthLine1.sound);
        applySound(engine.synthLine2, s.synthLine2.sound);
    }
    if (parts & kStateLine1Phrase)
        applyPhrase(engine.synthLine1, s.synthLine1.phrase);
    if (parts & kStateLine2Phrase)
        applyPhrase(engine.synthLine2, s.synthLine2.phrase);
    if (parts & kStateSubBass) {
        applyPhrase(engine.subBass, s.subBass.phrase);
        applySound(engine.subBass, s.subBass.sound);
    }
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
