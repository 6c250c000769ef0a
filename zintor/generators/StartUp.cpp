// The synth's start-up: control start values, drum presets, delay placement and the first phrases.
#include "zintor/generators/StartUp.h"

#include "zintor/controls/Controls.h"
#include "zintor/generators/PhraseGenerators.h"

namespace zintor {

void startUp(SynthEngine& engine, common::Random& windowRandom, std::uint32_t seed) {
    constexpr auto relaxed = std::memory_order_relaxed;
    windowRandom.seed(seed);

    // The sliders' start positions through their own formulas. samplesPerStep keeps its start value
    // (5000): the "BPM" text is not applied until "Set".
    applyStartPositions(engine);
    engine.params.stepCount.store(kInitialStepCount, relaxed);

    engine.snareVoice.decay.store(0.9995f, relaxed);
    engine.snareVoice.tone.store(0.88f, relaxed);
    engine.hatVoice.decay.store(0.998f, relaxed);
    engine.hatVoice.tone.store(0.93f, relaxed);

    engine.resetDelay();

    runGenerator(engine, kSynthLine1, generateFlatRiff, windowRandom);
    runGenerator(engine, kSynthLine2, generatePsychedelic, windowRandom);
    runGenerator(engine, kSubBass, generateSubBass, windowRandom);
    engine.settle(); // the stream has not started: the first block already plays all of this
}

} // namespace zintor
