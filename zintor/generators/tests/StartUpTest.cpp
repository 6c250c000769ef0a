// The start-up routine: start values, reproducible phrases, and race-free use from the window thread.
#include "zintor/generators/StartUp.h"

#include "zintor/controls/Controls.h"
#include "zintor/generators/PhraseGenerators.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace zintor {
namespace {

TEST(StartUp, SetsTheStartValuesAndTheDrumPresetsButDoesNotPlay) {
    auto e = std::make_unique<SynthEngine>();
    common::Random random;
    startUp(*e, random, 42);
    EXPECT_EQ(e->params.samplesPerStep.load(), 5000); // "BPM" is not applied until "Set"
    EXPECT_EQ(e->params.masterGain.load(), 16384.0f);
    EXPECT_FALSE(e->params.playing.load());
    EXPECT_FLOAT_EQ(e->synthLine2.cutoff.load(), 0.002f);
    EXPECT_FLOAT_EQ(e->synthLine2.delaySend.load(), 0.6f);
    EXPECT_FLOAT_EQ(e->kick.pitchDecay.load(), 0.999f);
    EXPECT_FLOAT_EQ(e->snareVoice.decay.load(), 0.9995f);
    EXPECT_FLOAT_EQ(e->hatVoice.tone.load(), 0.93f);
}

std::vector<std::int16_t> startAndPlay(std::uint32_t seed) {
    auto e = std::make_unique<SynthEngine>();
    common::Random random;
    startUp(*e, random, seed);
    e->params.playing.store(true);
    std::vector<std::int16_t> out(2 * 44100);
    e->renderBlock(out.data(), 44100 * 4);
    return out;
}

TEST(StartUp, TheSameSeedGivesTheSameTrackAndAnotherSeedAnother) {
    const auto a = startAndPlay(1234);
    EXPECT_EQ(a, startAndPlay(1234));
    EXPECT_NE(a, startAndPlay(1235));
    int loud = 0;
    for (std::int16_t s : a)
        loud += (s > 2000 || s < -2000);
    EXPECT_GT(loud, 1000); // music, not silence
}

// Run under the thread sanitizer: the window thread's presses and control moves meet the render
// only in atomics.
TEST(StartUp, PressesAndControlMovesWhileTheRenderRunsAreRaceFree) {
    auto e = std::make_unique<SynthEngine>();
    common::Random windowRandom;
    startUp(*e, windowRandom, 7);
    e->params.playing.store(true);
    std::atomic<bool> done{false};
    std::thread audio([&] {
        std::vector<std::int16_t> block(2 * 1000);
        while (!done.load())
            e->renderBlock(block.data(), 4000);
    });
    for (int i = 0; i < 50; ++i) {
        runGenerator(*e, kSynthLine1, generateGoa, windowRandom);
        runGenerator(*e, kSubBass, generateSubBass, windowRandom);
        e->synthLine2.cutoff.store(findControl("synthLine2.cutoff")->value(i * 20 + 1));
        e->synthLine2.setOscMix(i * 5);
        e->params.samplesPerStep.store(samplesPerStepFromBpm(100 + i));
        e->params.stepCount.store(i % 2 ? 256 : 3);
    }
    done.store(true);
    audio.join();
    EXPECT_GE(e->params.peakLeft.load(), 0);
}

} // namespace
} // namespace zintor
