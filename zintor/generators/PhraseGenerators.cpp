// The four phrase styles. The order of the draws is part of each style: the same seed gives the same phrase.
#include "zintor/generators/PhraseGenerators.h"

#include "zintor/engine/SynthEngine.h"

#include <cstdint>

namespace zintor {

namespace {

constexpr std::int8_t kGoaStaccatoNotes[8] = {0, -12, 0, 1, 3, 7, 12, 13};
constexpr std::int8_t kGoaHeldNotes[8] = {0, -12, -2, 0, 3, -14, 1, 0};
constexpr std::int8_t kFlatRiffNotes[8] = {0, -12, 0, 13, 0, 0, 0, 12};
constexpr std::int8_t kPsychedelicNotes[8] = {0, 0, -2, 3, 15, 10, 0, 12};
constexpr std::int8_t kSubBassNotes[8] = {0, 0, -2, 3, 0, 0, 0, 12};

constexpr int kGoaOpeningSteps = 7; // steps 0..6 take the opening shift

int coin(common::Random& random) {
    return random.next() / 16384;
}
int pick(common::Random& random) {
    return random.next() / 4096;
}
std::uint8_t mostly(common::Random& random) {
    return random.next() < 24000 ? 1 : 0;
}
// Strictly greater: 16383 of the 32768 values.
bool wave(common::Random& random) {
    return random.next() > 16384;
}

/// The character draws every synth-line style starts with, in their fixed order.
void drawCharacter(PhraseState& phrase, common::Random& random) {
    phrase.detune = unitRandom(random) * 0.25f;
    phrase.lfoDepth = unitRandom(random) * 0.25f;
    phrase.lfoRate = unitRandom(random) * 0.00005f;
    phrase.square = wave(random);
}

} // namespace

void generateGoa(VoiceState& voice, common::Random& random) {
    PhraseState& phrase = voice.phrase;
    drawCharacter(phrase, random);
    for (int i = 0; i < kPhraseSteps; ++i) {
        phrase.envRates[i] = unitRandom(random) * 0.00025f;
        const int c = coin(random);
        phrase.staccato[i] = c == 0 ? 1 : 0;
        const int p = pick(random);
        phrase.notes[i] = c == 0 ? kGoaStaccatoNotes[p] : kGoaHeldNotes[p];
    }
    // Opening shift: both coins are drawn, both shifts may apply.
    const bool raise = coin(random) == 1;
    for (int i = 0; raise && i < kGoaOpeningSteps; ++i)
        phrase.notes[i] = static_cast<std::int8_t>(phrase.notes[i] + 3);
    const bool lower = coin(random) == 1;
    for (int i = 0; lower && i < kGoaOpeningSteps; ++i)
        phrase.notes[i] = static_cast<std::int8_t>(phrase.notes[i] - 5);
}

void generateFlatRiff(VoiceState& voice, common::Random& random) {
    PhraseState& phrase = voice.phrase;
    drawCharacter(phrase, random);
    for (int i = 0; i < kPhraseSteps; ++i) {
        phrase.envRates[i] = unitRandom(random) * 0.00025f;
        phrase.staccato[i] = mostly(random);
        phrase.notes[i] = kFlatRiffNotes[pick(random)];
    }
}

void generatePsychedelic(VoiceState& voice, common::Random& random) {
    PhraseState& phrase = voice.phrase;
    drawCharacter(phrase, random);
    for (int i = 0; i < kPhraseSteps; ++i) {
        phrase.envRates[i] = (unitRandom(random) - 0.5f) * 0.1f;
        phrase.staccato[i] = mostly(random);
        phrase.notes[i] = kPsychedelicNotes[pick(random)];
    }
}

void generateSubBass(VoiceState& voice, common::Random& random) {
    VoiceSound& sound = voice.sound;
    sound.osc1Level = 1.0f; // Osc Mix at 0: oscillator 1 only
    sound.osc2Level = 0.0f;
    voice.phrase.lfoRate = 0.02f;
    sound.volume = 0.5f;
    voice.phrase.lfoDepth = 0.05f;
    sound.cutoff = 1.0f;
    sound.resonance = 0.9f;
    sound.delaySend = 0.0f;
    sound.driveCeiling = 1.0f;
    for (int i = 0; i < kPhraseSteps; ++i) {
        voice.phrase.staccato[i] = mostly(random);
        voice.phrase.notes[i] = kSubBassNotes[pick(random)];
        voice.phrase.envRates[i] = 1.2f;
    }
    voice.phrase.square = false;
}

void runGenerator(SynthEngine& engine, int voice, Generator generate, common::Random& random) {
    const SynthState seen = captureState(engine);
    const VoiceState* voices[kSynthVoices] = {&seen.synthLine1, &seen.synthLine2, &seen.subBass};
    VoiceState rolled = *voices[voice];
    generate(rolled, random);
    if (voice != kSubBass) {
        engine.sendPhrase(voice, rolled.phrase);
        return;
    }
    constexpr auto kRelaxed = std::memory_order_relaxed;
    const VoiceSound& sound = rolled.sound;
    engine.subBass.osc1Level.store(sound.osc1Level, kRelaxed);
    engine.subBass.osc2Level.store(sound.osc2Level, kRelaxed);
    engine.subBass.volume.store(sound.volume, kRelaxed);
    engine.subBass.cutoff.store(sound.cutoff, kRelaxed);
    engine.subBass.resonance.store(sound.resonance, kRelaxed);
    engine.subBass.delaySend.store(sound.delaySend, kRelaxed);
    engine.subBass.driveCeiling.store(sound.driveCeiling, kRelaxed);
    engine.sendPhrase(kSubBass, rolled.phrase, kSubBassCutoffStart);
}

} // namespace zintor
