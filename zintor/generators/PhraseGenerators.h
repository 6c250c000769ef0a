// The phrase generators: rewrite a SynthVoice's 256-step phrase (and character fields) in one style.
// Run on the window thread with the window's generator; the voice may be playing meanwhile.
#pragma once

#include "common/Random.h"
#include "zintor/engine/SynthVoice.h"

namespace zintor {

/// rand × 2^−15: 0 to 32767/32768 in steps of 1/32768.
inline float unitRandom(common::Random& random) {
    return static_cast<float>(random.next()) * (1.0f / 32768.0f);
}

/// "Goa": staccato steps from one note table, held steps from another; steps 0..6 may be shifted.
void generateGoa(SynthVoice& voice, common::Random& random);
/// "FLAT Riff": mostly staccato, notes 0, −12, 12, 13.
void generateFlatRiff(SynthVoice& voice, common::Random& random);
/// "Psychedelic": mostly staccato, fast filter envelopes that may open or close.
void generatePsychedelic(SynthVoice& voice, common::Random& random);
/// "Generate" of the sub bass: its fixed sound and a new phrase; leaves detune alone.
void generateSubBass(SynthVoice& voice, common::Random& random);

} // namespace zintor
