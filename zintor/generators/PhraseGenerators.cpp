// The four phrase styles. The order of the draws is part of each style: the same seed gives the same phrase.
#include "zintor/generators/PhraseGenerators.h"

#include <cstdint>

namespace zintor {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

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
void drawCharacter(SynthVoice& voice, common::Random& random) {
    voice.detune.store(unitRandom(random) * 0.25f, kRelaxed);
    voice.lfoDepth.store(unitRandom(random) * 0.25f, kRelaxed);
    voice.lfoRate.store(unitRandom(random) * 0.00005f, kRelaxed);
    voice.square.store(wave(random), kRelaxed);
}

} // namespace

void generateGoa(SynthVoice& voice, common::Random& random) {
    drawCharacter(voice, random);
    for (int i = 0; i < SynthVoice::kPhraseSteps; ++i) {
        voice.envRates[i].store(unitRandom(random) * 0.00025f, kRelaxed);
        const int c = coin(random);
        voice.staccato[i].store(c == 0 ? 1 : 0, kRelaxed);
        const int p = pick(random);
        voice.notes[i].store(c == 0 ? kGoaStaccatoNotes[p] : kGoaHeldNotes[p], kRelaxed);
    }
    // Opening shift: both coins are drawn, both shifts may apply.
    const bool raise = coin(random) == 1;
    for (int i = 0; raise && i < kGoaOpeningSteps; ++i)
        voice.notes[i].store(static_cast<std::int8_t>(voice.notes[i].load(kRelaxed) + 3), kRelaxed);
    const bool lower = coin(random) == 1;
    for (int i = 0; lower && i < kGoaOpeningSteps; ++i)
        voice.notes[i].store(static_cast<std::int8_t>(voice.notes[i].load(kRelaxed) - 5), kRelaxed);
}

void generateFlatRiff(SynthVoice& voice, common::Random& random) {
    drawCharacter(voice, random);
    for (int i = 0; i < SynthVoice::kPhraseSteps; ++i) {
        voice.envRates[i].store(unitRandom(random) * 0.00025f, kRelaxed);
        voice.staccato[i].store(mostly(random), kRelaxed);
        voice.notes[i].store(kFlatRiffNotes[pick(random)], kRelaxed);
    }
}

void generatePsychedelic(SynthVoice& voice, common::Random& random) {
    drawCharacter(voice, random);
    for (int i = 0; i < SynthVoice::kPhraseSteps; ++i) {
        voice.envRates[i].store((unitRandom(random) - 0.5f) * 0.1f, kRelaxed);
        voice.staccato[i].store(mostly(random), kRelaxed);
        voice.notes[i].store(kPsychedelicNotes[pick(random)], kRelaxed);
    }
}

void generateSubBass(SynthVoice& voice, common::Random& random) {
    voice.setOscMix(0);
    voice.cutoffNow.store(0.02f, kRelaxed);
    voice.lfoRate.store(0.02f, kRelaxed);
    voice.volume.store(0.5f, kRelaxed);
    voice.lfoDepth.store(0.05f, kRelaxed);
    voice.cutoff.store(1.0f, kRelaxed);
    voice.resonance.store(0.9f, kRelaxed);
    voice.delaySend.store(0.0f, kRelaxed);
    voice.driveCeiling.store(1.0f, kRelaxed);
    voice.osc1Level.store(1.0f, kRelaxed);
    for (int i = 0; i < SynthVoice::kPhraseSteps; ++i) {
        voice.staccato[i].store(mostly(random), kRelaxed);
        voice.notes[i].store(kSubBassNotes[pick(random)], kRelaxed);
        voice.envRates[i].store(1.2f, kRelaxed);
    }
    voice.square.store(false, kRelaxed);
}

} // namespace zintor
