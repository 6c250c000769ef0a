// The synth's start-up: control start values, drum presets, delay placement and the first phrases.
#include "zintor/generators/StartUp.h"

#include "zintor/generators/ControlFormulas.h"
#include "zintor/generators/PhraseGenerators.h"

namespace zintor {

void startUp(SynthEngine& engine, common::Random& windowRandom, std::uint32_t seed) {
    constexpr auto relaxed = std::memory_order_relaxed;
    windowRandom.seed(seed);

    // The controls' start positions through the window's own formulas. samplesPerStep keeps its start
    // value (5000): the "BPM" text is not applied until "Set".
    SynthParams& p = engine.params;
    p.shuffleAmount.store(kGrooveShuffleSlider.initial, relaxed);
    p.stepCount.store(kInitialStepCount, relaxed);
    p.globalTranspose.store(kGlobalTransposeSlider.initial, relaxed);
    p.masterGain.store(masterGainFromPosition(kMasterSlider.initial), relaxed);
    engine.kick.startIncrement.store(startIncrementFromPosition(kKickAttackSlider.initial), relaxed);
    engine.kick.pitchDecay.store(pitchDecayFromPosition(kKickDecaySlider.initial), relaxed);
    engine.kick.volume.store(kickVolumeFromPosition(kKickVolumeSlider.initial), relaxed);
    applySynthLinePositions(engine.synthLine1, kSynthLine1Sliders);
    applySynthLinePositions(engine.synthLine2, kSynthLine2Sliders);
    p.subBassGain.store(subBassGainFromPosition(kSubBassVolumeSlider.initial), relaxed);

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
