// Kick and noise drums as heard: the click, the attack pitch and where the kick settles; the noise drum's
// high-pass.
#include "common/Random.h"
#include "zintor/engine/KickDrum.h"
#include "zintor/engine/NoiseDrum.h"

#include "zintor/engine/tests/VoiceMeasure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace zintor {
namespace {

/// A kick with its parameters, rendered one sample at a time.
struct TestKick {
    KickDrum unit;
    KickParams params;
    float renderSample() {
        float sample;
        unit.render(&sample, 1, params);
        return sample;
    }
    void strike() { unit.strike(params.startIncrement); }
};

/// A noise drum drawing from its own generator, one sample at a time.
struct TestNoise {
    NoiseDrum unit;
    NoiseParams params;
    float renderSample(common::Random& random) { return NoiseDrum::next(unit.state, random.next(), params); }
};

TEST(KickDrum, SilentUntilStruckThenClicksAtFullVolume) {
    TestKick kick;
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(kick.renderSample(), 0.0f);
    for (const float start : {0.05f, 0.7f, 1.5f}) {
        kick.params.startIncrement = start;
        kick.params.volume = 0.6f;
        kick.strike();
        EXPECT_EQ(kick.renderSample(), 0.6f) << "start increment " << start;
        EXPECT_NEAR(kick.renderSample(), 0.6f * std::sin(start), 1e-6) << "then the sine";
    }
}

TEST(KickDrum, StartPitchFromTheAttackIncrement) {
    TestKick kick;
    kick.params.pitchDecay = 1.0f; // hold the attack pitch to measure it
    kick.params.volume = 1.0f;
    kick.strike();
    kick.renderSample(); // the click
    std::vector<float> out(44100);
    for (float& s : out)
        s = kick.renderSample();
    EXPECT_NEAR(test::frequencyFromCrossings(out), 0.05 * 44100 / (2 * M_PI), 0.5); // about 351 Hz
}

TEST(KickDrum, SettlesOnTheSineOfItsLimitPhase) {
    // The phase converges to startIncrement / (1 − pitchDecay).
    for (const float decay : {0.99f, 0.999f}) {
        TestKick kick;
        kick.params.pitchDecay = decay;
        kick.strike();
        float last = 0.0f;
        for (int i = 0; i < 44100; ++i)
            last = kick.renderSample();
        const double limit = 0.05 / (1.0 - decay);
        EXPECT_NEAR(kick.unit.phase, limit, limit * 1e-3);
        EXPECT_NEAR(last, 0.8 * std::sin(limit), 0.01) << "decay " << decay; // −0.959 or −0.26 × 0.8
    }
}

TEST(NoiseDrum, PassesNoConstant) {
    // The raw noise averages half its level; the output must average zero at any tone.
    for (const float tone : {0.5f, 0.88f, 0.93f, 0.05f}) {
        TestNoise drum;
        common::Random random;
        drum.params.decay = 1.0f;
        drum.params.tone = tone;
        double sum = 0.0;
        double sumSquares = 0.0;
        constexpr int kSamples = 200000;
        for (int i = 0; i < kSamples; ++i) {
            const double s = drum.renderSample(random);
            sum += s;
            sumSquares += s * s;
        }
        EXPECT_NEAR(sum / kSamples, 0.0, 0.002) << "tone " << tone;
        EXPECT_GT(sumSquares / kSamples, 0.001) << "yet it sounds, tone " << tone;
    }
}

} // namespace
} // namespace zintor
