// Synth voice, measured from its output: pitch, staccato release, retrigger without a click, what each
// filter type does to a constant and a switch back from the ring modulator. The sample-exact cutoff,
// envelope and overdrive rules are checked against the plain model in SynthLinesTest.
#include "zintor/engine/SynthVoice.h"

#include "zintor/engine/SynthLines.h"
#include "zintor/engine/SynthParams.h"
#include "zintor/engine/tests/VoiceMeasure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace zintor {
namespace {

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
        EXPECT_NEAR(test::frequencyFromCrossings(render(*voice, 4 * 44100)), expected, expected * 1e-3)
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
    EXPECT_NEAR(test::frequencyFromCrossings(out), 0.01 * 44100 / (2 * M_PI), 0.01); // about 70.2 Hz
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

} // namespace
} // namespace zintor
