// The synth's start-up routine, shared by the window and the headless renderer. Window thread, before the
// audio stream starts (it resets the delay, which no render may run during).
#pragma once

#include "common/Random.h"
#include "zintor/engine/SynthEngine.h"

#include <cstdint>

namespace zintor {

/// Seeds `windowRandom` with `seed` (the clock in whole seconds, for the window), puts the controls' start
/// values into the engine, sets the noise-drum presets, resets the delay (taps 15000 and 10000 behind at
/// the start tempo) and runs the start-up generators: FLAT Riff on synthLine1, Psychedelic on synthLine2,
/// and the sub bass, in this order, and settles them into the engine. `playing` is left as it is (false
/// after construction).
void startUp(SynthEngine& engine, common::Random& windowRandom, std::uint32_t seed);

} // namespace zintor
