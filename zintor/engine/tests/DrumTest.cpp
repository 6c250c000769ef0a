// Kick and noise drums: the click, the attack pitch and where the kick settles; the noise drum's
// envelope, its high-pass and its one draw per sample.
#include "zintor/engine/KickDrum.h"
#include "zintor/engine/NoiseDrum.h"

#include "zintor/engine/tests/VoiceMeasure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace zintor {
namespace {

TEST(KickDrum, SilentUntilStruckThenClicksAtFullVolume) {
    KickDrum kick;
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(kick.renderSample(), 0.0f);
    for (const float start : {0.05f, 0.7f, 1.5f}) {
        kick.startIncrement = start;
        kick.volume = 0.6f;
        kick.strike();
        EXPECT_EQ(kick.renderSample(), 0.6f) << "start increment " << start;
        EXPECT_NEAR(kick.renderSample(), 0.6f * std::sin(start), 1e-6) << "then the sine";
    }
}

TEST(KickDrum, StartPitchFromTheAttackIncrement) {
    KickDrum kick;
    kick.pitchDecay = 1.0f; // hold the attack pitch to measure it
    kick.volume = 1.0f;
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
        KickDrum kick;
        kick.pitchDecay = decay;
        kick.strike();
        float last = 0.0f;
        for (int i = 0; i < 44100; ++i)
            last = kick.renderSample();
        const double limit = 0.05 / (1.0 - decay);
        EXPECT_NEAR(kick.phase, limit, limit * 1e-3);
        EXPECT_NEAR(last, 0.8 * std::sin(limit), 0.01) << "decay " << decay; // −0.959 or −0.26 × 0.8
    }
}

TEST(NoiseDrum, EnvelopeDecaysAndStrikeRestoresIt) {
    NoiseDrum drum;
    common::Random random;
    drum.tone = 0.93f;
    for (int i = 0; i < 1000; ++i)
        drum.renderSample(random);
    EXPECT_NEAR(drum.level, 0.135f, 0.001f);
    const float smooth1 = drum.smooth1;
    const float smooth2 = drum.smooth2;
    drum.strike();
    EXPECT_EQ(drum.level, 1.0f);
    EXPECT_EQ(drum.smooth1, smooth1);
    EXPECT_EQ(drum.smooth2, smooth2);

}

TEST(NoiseDrum, DrawsOneNumberPerSample) {
    NoiseDrum drum;
    common::Random random;
    common::Random reference;
    for (int i = 0; i < 1000; ++i) {
        drum.renderSample(random);
        reference.next();
    }
    EXPECT_EQ(random.state(), reference.state());
}

TEST(NoiseDrum, PassesNoConstant) {
    // The raw noise averages half its level; the output must average zero at any tone.
    for (const float tone : {0.5f, 0.88f, 0.93f, 0.05f}) {
        NoiseDrum drum;
        common::Random random;
        drum.decay = 1.0f;
        drum.tone = tone;
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
