// The phrase generators: roll a voice's 256-step phrase (and character fields) in one style. Window
// thread, with the window's generator; runGenerator() hands the result to the engine.
#pragma once

#include "common/Random.h"
#include "zintor/engine/SynthState.h"

namespace zintor {

class SynthEngine;

/// rand × 2^−15: 0 to 32767/32768 in steps of 1/32768.
inline float unitRandom(common::Random& random) {
    return static_cast<float>(random.next()) * (1.0f / 32768.0f);
}

/// A generator writes the phrase of `voice`; the sub bass's also its fixed sound.
using Generator = void (*)(VoiceState& voice, common::Random& random);

/// "Goa": staccato steps from one note table, held steps from another; steps 0..6 may be shifted.
void generateGoa(VoiceState& voice, common::Random& random);
/// "FLAT Riff": mostly staccato, notes 0, −12, 12, 13.
void generateFlatRiff(VoiceState& voice, common::Random& random);
/// "Psychedelic": mostly staccato, fast filter envelopes that may open or close.
void generatePsychedelic(VoiceState& voice, common::Random& random);
/// "Generate" of the sub bass: its fixed sound and a new phrase; leaves detune, filter type and
/// inertia alone.
void generateSubBass(VoiceState& voice, common::Random& random);

/// The smoothed cutoff the sub bass's generator starts its voice from.
inline constexpr float kSubBassCutoffStart = 0.02f;

/// Runs `generate` on voice `voice` (kSynthLine1..kSubBass) as the window sees it and hands the result
/// to the engine: the phrase through its mailbox, heard from the voice's next step; for the sub bass
/// also its sound controls at once and its smoothed cutoff with the phrase.
void runGenerator(SynthEngine& engine, int voice, Generator generate, common::Random& random);

} // namespace zintor
