// The start-up routine: controls at their start positions, presets, the first phrases, reproducible by seed.
#include "zintor/generators/StartUp.h"

#include "zintor/generators/ControlFormulas.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace zintor {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

TEST(ControlFormulas, SliderEndsGiveTheDocumentedValues) {
    EXPECT_EQ(masterGainFromPosition(7616), 16384.0f);
    EXPECT_EQ(masterGainFromPosition(0), 24000.0f);
    EXPECT_FLOAT_EQ(driveCeilingFromPosition(1), 0.999f);
    EXPECT_FLOAT_EQ(driveCeilingFromPosition(950), 0.05f);
    EXPECT_FLOAT_EQ(inertiaFromPosition(500), 0.0005f);
    EXPECT_EQ(samplesPerStepFromBpm(132), 5011);
    EXPECT_EQ(samplesPerStepFromBpm(830), 796);
    EXPECT_EQ(bpmFromSamplesPerStep(796), 831);
    EXPECT_EQ(samplesPerStepFromBpm(32), 20671);
    EXPECT_EQ(bpmFromSamplesPerStep(5000), 132);
}

TEST(StartUp, PutsTheControlsAtTheirStartPositionsAndTheDrumPresets) {
    auto e = std::make_unique<SynthEngine>();
    common::Random random;
    startUp(*e, random, 42);
    EXPECT_EQ(e->params.samplesPerStep.load(), 5000);
    EXPECT_EQ(e->params.stepCount.load(), 16);
    EXPECT_EQ(e->params.globalTranspose.load(), -1);
    EXPECT_EQ(e->params.masterGain.load(), 16384.0f);
    EXPECT_FLOAT_EQ(e->params.subBassGain.load(), 1.3f);
    EXPECT_FALSE(e->params.playing.load());
    EXPECT_FLOAT_EQ(e->synthLine1.cutoff.load(), 0.5f);
    EXPECT_FLOAT_EQ(e->synthLine1.volume.load(), 0.2f);
    EXPECT_FLOAT_EQ(e->synthLine2.cutoff.load(), 0.002f);
    EXPECT_FLOAT_EQ(e->synthLine2.inertia.load(), 0.000002f);
    EXPECT_FLOAT_EQ(e->synthLine2.delaySend.load(), 0.6f);
    EXPECT_FLOAT_EQ(e->synthLine2.volume.load(), 0.1f);
    EXPECT_FLOAT_EQ(e->synthLine1.driveCeiling.load(), 0.5f);
    EXPECT_FLOAT_EQ(e->kick.pitchDecay.load(), 0.999f);
    EXPECT_FLOAT_EQ(e->kick.volume.load(), 0.8f);
    EXPECT_FLOAT_EQ(e->snareVoice.decay.load(), 0.9995f);
    EXPECT_FLOAT_EQ(e->snareVoice.tone.load(), 0.88f);
    EXPECT_FLOAT_EQ(e->hatVoice.tone.load(), 0.93f);
    EXPECT_FLOAT_EQ(e->hitVoice.tone.load(), 0.5f);
    EXPECT_EQ(e->subBass.envRates[0].load(), 1.2f); // the sub bass has its phrase
}

std::vector<std::int16_t> startAndPlay(std::uint32_t seed, int frames) {
    auto e = std::make_unique<SynthEngine>();
    common::Random random;
    startUp(*e, random, seed);
    e->params.playing.store(true, kRelaxed);
    std::vector<std::int16_t> out(2 * static_cast<std::size_t>(frames));
    e->renderBlock(out.data(), frames * 4);
    return out;
}

TEST(StartUp, TheSameSeedGivesTheSameTrackAndAnotherSeedAnother) {
    const auto a = startAndPlay(1234, 44100);
    EXPECT_EQ(a, startAndPlay(1234, 44100));
    EXPECT_NE(a, startAndPlay(1235, 44100));
    int loud = 0;
    for (std::int16_t s : a)
        loud += (s > 2000 || s < -2000);
    EXPECT_GT(loud, 1000); // it plays music, not silence
}

} // namespace
} // namespace zintor
