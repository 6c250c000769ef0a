// The sound units measured from their output: the voices' sine against the C library's; the synth
// voice's pitch, staccato release, retrigger without a click and what each filter type does to a constant;
// the kick's click, attack pitch and resting phase; the noise drum's high-pass. The sample-exact cutoff,
// envelope and overdrive rules are checked against the plain model in SynthLinesTest.
#include "zintor/engine/KickDrum.h"
#include "zintor/engine/NoiseDrum.h"
#include "zintor/engine/Sine.h"
#include "zintor/engine/SynthLines.h"
#include "zintor/engine/SynthParams.h"
#include "zintor/engine/SynthVoice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace zintor {
namespace {

/// Frequency in Hz from the first to the last upward zero crossing, each placed between its two samples
/// by linear interpolation; 0 with fewer than two crossings.
double frequencyFromCrossings(const std::vector<float>& signal) {
    double first = -1.0;
    double last = -1.0;
    int crossings = 0;
    for (std::size_t i = 1; i < signal.size(); ++i) {
        const float a = signal[i - 1];
        const float b = signal[i];
        if (a < 0.0f && b >= 0.0f) {
            last = static_cast<double>(i - 1) + a / static_cast<double>(a - b);
            first = first < 0.0 ? last : first;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) * 44100.0 / (last - first);
}

TEST(Sine, MatchesTheLibrarySineAndTracksAWrappedPhase) {
    // The LFO and ring phases (0..2π), and the kick's unwrapped phase (up to 1.5 / (1 − 0.999)).
    for (const double to : {6.2831855, -10.0, 1600.0}) {
        double worst = 0.0;
        constexpr int kPoints = 1000003;
        for (int i = 0; i <= kPoints; ++i)
            worst = std::max(worst, std::abs(sine(to * i / kPoints) - std::sin(to * i / kPoints)));
        EXPECT_LT(worst, 1e-15) << "range 0.." << to;
    }
    // A float phase advanced and wrapped as the voices do, with the rate changed and the phase set from
    // outside now and then.
    TrackedSine tracked;
    float phase = 0.0f;
    double worst = 0.0;
    for (const float rate : {0.0000125f, 0.02f, 0.0f, 0.9f, 0.0001f}) {
        for (int i = 0; i < 400000; ++i) {
            phase += rate;
            if (phase > 6.2831855f)
                phase -= 6.2831855f;
            if (i == 123457)
                phase = 3.0f;
            worst = std::max(worst, std::abs(tracked.next(phase) - std::sin(static_cast<double>(phase))));
        }
    }
    EXPECT_LT(worst, 1e-13);
}

/// A voice with its parameters, rendered one sample at a time by the engine's voice render (beside two
/// idle voices).
struct TestVoice {
    SynthVoice unit;
    VoiceParams params;
    SynthVoice idle[2];
    SynthLines lines;

    float renderSample(float ramp) {
        SynthVoice* const voices[3] = {&unit, &idle[0], &idle[1]};
        const VoiceParams all[3] = {params, VoiceParams{}, VoiceParams{}};
        const float ramps[3] = {ramp, ramp, ramp};
        lines.render(voices, all, ramps, 1);
        return lines.sample(0, 0);
    }
    void setOscMix(int position) {
        VoiceControls controls;
        controls.setOscMix(position);
        params.osc1Level = controls.osc1Level.load();
        params.osc2Level = controls.osc2Level.load();
    }
};

// A voice whose filter is nearly transparent and whose cutoff never moves: saw, oscillator 1 only,
// no envelope, no LFO, no overdrive, full volume.
void makeTransparent(TestVoice& voice) {
    voice.setOscMix(0);
    voice.params.cutoff = 1.0f;
    voice.params.resonance = 0.001f;
    voice.unit.phrase.lfoDepth = 0.0f;
    voice.params.driveCeiling = 1.0f;
    voice.params.volume = 1.0f;
}

std::vector<float> render(TestVoice& voice, int samples, float ramp = 0.05f) {
    std::vector<float> out(static_cast<std::size_t>(samples));
    for (float& s : out)
        s = voice.renderSample(ramp);
    return out;
}

TEST(SynthVoicePitch, OutputFrequencyFollowsNoteAndTranspose) {
    struct Case {
        int note;
        int transpose;
    };
    // A step index past the phrase (never given by the engine) reads the phrase wrapped, not beyond it.
    for (const Case c : {Case{0, 0}, Case{12, 0}, Case{5, -1}, Case{-12, -13}, Case{13, 12}}) {
        const auto voice = std::make_unique<TestVoice>();
        makeTransparent(*voice);
        common::Random random;
        voice->unit.phrase.notes[0] = static_cast<std::int8_t>(c.note);
        voice->unit.triggerStep(c.note == 13 ? kPhraseSteps : 0, 1 << 30, c.transpose, random);
        render(*voice, 1000); // settle the amplitude and the filter
        const double expected = 86.1328125 * std::exp2((c.note + c.transpose) / 12.0);
        EXPECT_NEAR(frequencyFromCrossings(render(*voice, 4 * 44100)), expected, expected * 1e-3)
            << "note " << c.note << " transpose " << c.transpose;
    }
}

// The first draw of a generator at state 1 is 41 (below 16384: a third of the step), the second
// 18467 (a half).
TEST(SynthVoiceRelease, StaccatoStepClosesAfterAThirdOrAHalf) {
    const auto voice = std::make_unique<TestVoice>();
    common::Random random;
    voice->unit.phrase.staccato[0] = 1;
    for (const int gateSamples : {1666, 2500}) {
        voice->unit.triggerStep(0, 5000, 0, random);
        ASSERT_EQ(voice->unit.state.releaseAt, gateSamples);
        for (int i = 0; i < gateSamples; ++i)
            voice->renderSample(0.05f);
        EXPECT_EQ(voice->unit.state.amp, 1.0f) << "still open on the last sample of the gate";
        voice->renderSample(0.05f);
        EXPECT_EQ(voice->unit.state.ampTarget, 0.0f) << "closed on sample " << gateSamples + 1;
        EXPECT_LT(voice->unit.state.amp, 1.0f);
        int toSilence = 1;
        while (voice->unit.state.amp > 0.0f && toSilence < 100) {
            voice->renderSample(0.05f);
            ++toSilence;
        }
        EXPECT_NEAR(toSilence, 20, 1);
    }
}

TEST(SynthVoiceRelease, RetriggerContinuesAmplitudeAndPhases) {
    const auto voice = std::make_unique<TestVoice>();
    common::Random random;
    voice->unit.phrase.staccato[0] = 1;
    voice->unit.triggerStep(0, 300, 0, random); // released after 100 samples
    render(*voice, 110);
    const float ampBefore = voice->unit.state.amp;
    const float phaseBefore = voice->unit.state.osc1Phase;
    ASSERT_GT(ampBefore, 0.0f);
    ASSERT_LT(ampBefore, 1.0f);
    voice->unit.phrase.notes[1] = 12;
    voice->unit.triggerStep(1, 300, 0, random);
    voice->renderSample(0.05f);
    EXPECT_FLOAT_EQ(voice->unit.state.amp, ampBefore + 0.05f);
    EXPECT_FLOAT_EQ(voice->unit.state.osc1Phase, phaseBefore + 1.0f / 256.0f);
}

// A voice held at a constant mix: square oscillators standing still below half a cycle, no overdrive,
// full volume.
void makeConstantMix(TestVoice& voice, float level) {
    voice.unit.phrase.square = true;
    voice.unit.state.osc1Phase = 0.1f;
    voice.unit.state.osc2Phase = 0.1f;
    voice.params.osc1Level = level;
    voice.params.osc2Level = level;
    voice.unit.phrase.lfoDepth = 0.0f;
    voice.unit.state.releaseAt = -1;
    voice.unit.state.ampTarget = 1.0f;
    voice.unit.state.amp = 1.0f;
    voice.params.driveCeiling = 1.0f;
    voice.params.volume = 1.0f;
}

TEST(SynthVoiceOutput, LowPassPassesAConstantHighPassRemovesIt) {
    for (const int type : {0, 1}) {
        const auto voice = std::make_unique<TestVoice>();
        makeConstantMix(*voice, 1.0f);
        voice->params.cutoff = 0.3f;
        voice->params.filterType = type;
        float last = 0.0f;
        for (int i = 0; i < 20000; ++i)
            last = voice->renderSample(0.05f);
        EXPECT_NEAR(last, type == 0 ? 1.0f : 0.0f, 1e-4) << "filter type " << type;
    }
}

TEST(SynthVoiceOutput, RingModulatorCarrierFollowsTheCutoff) {
    const auto voice = std::make_unique<TestVoice>();
    makeConstantMix(*voice, 0.5f); // mix 0.5
    voice->params.cutoff = 0.0f;   // target floors at 0.01 radians per sample
    voice->unit.state.cutoffNow = 0.01f;
    voice->params.filterType = 2;
    const std::vector<float> out = render(*voice, 5 * 44100);
    EXPECT_NEAR(frequencyFromCrossings(out), 0.01 * 44100 / (2 * M_PI), 0.01); // about 70.2 Hz
    float peak = 0.0f;
    for (const float s : out)
        peak = std::max(peak, std::abs(s));
    EXPECT_NEAR(peak, 0.5f, 1e-4);
}

TEST(SynthVoiceOutput, SwitchingBackFromRingModulatorDoesNotClick) {
    const auto voice = std::make_unique<TestVoice>();
    makeConstantMix(*voice, 0.0f); // silence in
    voice->params.filterType = 2;
    render(*voice, 1000); // the carrier phase has moved well away from 0
    voice->params.filterType = 0;
    for (const float s : render(*voice, 1000))
        ASSERT_EQ(s, 0.0f);
}

TEST(KickDrum, ClicksAtFullVolumeThenSweepsFromItsAttackPitchToItsLimitPhase) {
    KickDrum kick;
    KickParams params;
    const auto next = [&] {
        float sample;
        kick.render(&sample, 1, params);
        return sample;
    };
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(next(), 0.0f) << "silent until struck";
    params.volume = 0.6f;
    params.startIncrement = 0.7f;
    kick.strike(params.startIncrement);
    EXPECT_EQ(next(), 0.6f);
    EXPECT_NEAR(next(), 0.6f * std::sin(0.7f), 1e-6) << "then the sine";

    params.startIncrement = 0.05f;
    params.pitchDecay = 1.0f; // held at the attack pitch to measure it
    kick.strike(params.startIncrement);
    next();
    std::vector<float> out(44100);
    std::generate(out.begin(), out.end(), next);
    EXPECT_NEAR(frequencyFromCrossings(out), 0.05 * 44100 / (2 * M_PI), 0.5); // about 351 Hz

    // The phase converges to startIncrement / (1 − pitchDecay).
    params.pitchDecay = 0.999f;
    kick.strike(params.startIncrement);
    std::generate(out.begin(), out.end(), next);
    EXPECT_NEAR(kick.phase, 50.0, 0.05);
    EXPECT_NEAR(out.back(), 0.6 * std::sin(50.0), 0.01);
}

TEST(NoiseDrum, PassesNoConstant) {
    // The raw noise averages half its level; the output must average zero at any tone, and yet sound.
    for (const float tone : {0.5f, 0.93f, 0.05f}) {
        NoiseDrum drum;
        const NoiseParams params{1.0f, tone};
        common::Random random;
        double sum = 0.0;
        double sumSquares = 0.0;
        constexpr int kSamples = 200000;
        for (int i = 0; i < kSamples; ++i) {
            const double s = NoiseDrum::next(drum.state, random.next(), params);
            sum += s;
            sumSquares += s * s;
        }
        EXPECT_NEAR(sum / kSamples, 0.0, 0.002) << "tone " << tone;
        EXPECT_GT(sumSquares / kSamples, 0.001) << "tone " << tone;
    }
}

} // namespace
} // namespace zintor
