// The oracle for the synth voices' render: a short per-frame model of one voice, written out plainly,
// against which SynthLines (the three voices side by side in SSE lanes) must give bit for bit the same
// samples and the same carried state, in any chunk size, for every filter type and waveform.
#include "zintor/engine/SynthLines.h"

#include "zintor/engine/SineLanes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

namespace zintor {
namespace {

constexpr float kCutoffFloor = 0.01f;
constexpr float kCutoffCeiling = 0.98f;
constexpr float kMinDriveCeiling = 0.001f;

/// One sample of one voice, as the voice is defined.
float oracleSample(SynthVoice& voice, float ramp, const VoiceParams& params) {
    const bool square = voice.phrase.square;
    const float lfoRate = voice.phrase.lfoRate;
    const float lfoDepth = voice.phrase.lfoDepth;
    const float clip = params.driveCeiling >= kMinDriveCeiling ? params.driveCeiling : kMinDriveCeiling;
    const float makeUp = 1.0f / clip;
    SynthVoice::State s = voice.state;
    {
        s.osc1Phase += s.osc1Increment;
        if (s.osc1Phase >= 1.0f)
            s.osc1Phase -= 1.0f;
        s.osc2Phase += s.osc2Increment;
        if (s.osc2Phase >= 1.0f)
            s.osc2Phase -= 1.0f;
        float wave1 = s.osc1Phase - 0.5f; // saw
        float wave2 = s.osc2Phase - 0.5f;
        if (square) {
            wave1 = s.osc1Phase < 0.5f ? 0.5f : -0.5f;
            wave2 = s.osc2Phase < 0.5f ? 0.5f : -0.5f;
        }

        if (s.releaseAt != -1) {
            ++s.sinceTrigger;
            if (s.sinceTrigger > s.releaseAt)
                s.ampTarget = 0.0f;
        }
        if (s.amp > s.ampTarget) {
            s.amp -= ramp;
            if (s.amp < s.ampTarget)
                s.amp = s.ampTarget;
        }
        if (s.amp < s.ampTarget) {
            s.amp += ramp;
            if (s.amp > s.ampTarget)
                s.amp = s.ampTarget;
        }
        const float mix = wave1 * params.osc1Level + wave2 * params.osc2Level;

        s.lfoPhase += lfoRate;
        if (s.lfoPhase > SynthVoice::kTwoPi)
            s.lfoPhase -= SynthVoice::kTwoPi;
        s.env += s.envRate;
        float target = static_cast<float>(s.lfoSine.next(s.lfoPhase) * lfoDepth) + params.cutoff - s.env;
        if (target < kCutoffFloor)
            target = kCutoffFloor;
        else if (target > kCutoffCeiling)
            target = kCutoffCeiling;
        // Opens at once, closes by at most `inertia` per sample.
        if (target < s.cutoffNow) {
            s.cutoffNow -= params.inertia;
            if (s.cutoffNow < target)
                s.cutoffNow = target;
        } else if (target > s.cutoffNow) {
            s.cutoffNow = target;
        }

        float y;
        const float f = s.cutoffNow;
        if (params.filterType == 2) {
            s.ringPhase += f;
            if (s.ringPhase > SynthVoice::kTwoPi)
                s.ringPhase -= SynthVoice::kTwoPi;
            y = static_cast<float>(s.ringSine.next(s.ringPhase)) * mix;
        } else {
            // stage1 += f((m − stage1) + feedback(stage1 − stage2)); stage2 += f(stage1 − stage2),
            // expanded so that the terms that do not depend on the stages are formed off the
            // sample-to-sample dependency chain.
            const float feedback = params.resonance + params.resonance / (1.0f - f);
            const float keep = 1.0f - f;
            const float next1 = (keep * s.stage1 + f * mix) + (f * feedback) * (s.stage1 - s.stage2);
            s.stage2 = keep * s.stage2 + f * next1;
            s.stage1 = next1;
            y = params.filterType == 1 ? mix - s.stage2 : s.stage2;
        }

        y *= s.amp;
        if (y > clip)
            y = clip;
        else if (y < -clip)
            y = -clip;
        voice.state = s;
        return y * makeUp * params.volume;
    }
}

struct Line {
    VoiceParams params;
    bool square;
    float lfoRate;
    float envRate;
};

void setUp(SynthVoice& v, const Line& line, int seed) {
    for (int i = 0; i < kPhraseSteps; ++i) {
        v.phrase.notes[i] = static_cast<std::int8_t>((i * 5 + seed) % 24 - 12);
        v.phrase.staccato[i] = static_cast<std::uint8_t>((i + seed) % 3 == 0);
        v.phrase.envRates[i] = i % 2 ? line.envRate : -line.envRate;
    }
    v.phrase.square = line.square;
    v.phrase.lfoRate = line.lfoRate;
}

/// Renders twelve steps of three voices in chunks of `chunk` frames, or (chunk 0) each voice by the
/// oracle. Halfway through, line 1 changes its filter type and line 2 its LFO rate and cutoff.
std::vector<float> renderTrio(std::array<Line, 3> lines, int chunk) {
    constexpr int kStepFrames = 997;
    constexpr int kSteps = 12;
    std::array<std::unique_ptr<SynthVoice>, 3> v;
    for (int j = 0; j < 3; ++j) {
        v[j] = std::make_unique<SynthVoice>();
        setUp(*v[j], lines[j], j);
    }
    auto synthLines = std::make_unique<SynthLines>();
    const float ramps[3] = {0.05f, 0.05f, 0.001f};
    common::Random random;
    std::vector<float> out;
    for (int step = 0; step < kSteps; ++step) {
        if (step == kSteps / 2) {
            lines[0].params.filterType = (lines[0].params.filterType + 1) % 3;
            v[1]->phrase.lfoRate = 0.0007f;
            lines[1].params.cutoff = 0.2f;
            v[2]->state.cutoffNow = 0.3f;
        }
        for (int j = 0; j < 3; ++j)
            v[j]->triggerStep(step, kStepFrames, 12 * j - 12, random);
        const VoiceParams params[3] = {lines[0].params, lines[1].params, lines[2].params};
        for (int start = 0; start < kStepFrames;) {
            const int n = chunk == 0 ? 1 : std::min({chunk, kStepFrames - start, SynthLines::kMaxFrames});
            if (chunk == 0) {
                for (int j = 0; j < 3; ++j)
                    out.push_back(oracleSample(*v[j], ramps[j], params[j]));
            } else {
                SynthVoice* const voices[3] = {v[0].get(), v[1].get(), v[2].get()};
                synthLines->render(voices, params, ramps, n);
                for (int i = 0; i < n; ++i)
                    out.insert(out.end(), {synthLines->sample(i, 0), synthLines->sample(i, 1),
                                           synthLines->sample(i, 2)});
            }
            start += n;
        }
    }
    for (int j = 0; j < 3; ++j) { // the state carried to the next render must match too
        const SynthVoice::State& s = v[j]->state;
        out.insert(out.end(), {s.cutoffNow, s.stage1, s.stage2, s.ringPhase, s.amp, s.lfoPhase, s.env});
    }
    return out;
}

VoiceParams params(int filterType, float inertia, float driveCeiling) {
    VoiceParams p;
    p.filterType = filterType;
    p.inertia = inertia;
    p.driveCeiling = driveCeiling;
    p.resonance = 0.8f;
    p.osc2Level = 0.6f;
    return p;
}

TEST(SynthLines, RenderTheOraclesSamplesInAnyChunkSize) {
    const std::array<std::array<Line, 3>, 3> cases = {{
        // The engine's usual set: two low-pass lines and the sub bass.
        {{{params(0, 0.0005f, 0.5f), false, 0.0001f, 0.0001f},
          {params(0, 0.00001f, 0.2f), true, 0.0003f, 0.001f},
          {params(0, 0.0f, 0.999f), false, 0.0002f, 1.2f}}},
        // Every filter type at once; a fast LFO wraps often; a closing-only cutoff.
        {{{params(2, 0.001f, 0.3f), true, 0.05f, 0.0002f},
          {params(1, 0.0f, 0.05f), false, 0.01f, 0.00005f},
          {params(2, 0.0001f, 0.7f), false, 0.0f, 0.0f}}},
        // A negative inertia, a still LFO and a ceiling of 0 (never given by the window).
        {{{params(1, -0.0001f, 0.4f), false, 0.0f, 0.0003f},
          {params(2, 0.0002f, 0.0f), true, 0.2f, 0.0f},
          {params(0, 0.0003f, 0.5f), true, 0.001f, 0.01f}}},
    }};
    for (std::size_t c = 0; c < cases.size(); ++c) {
        const std::vector<float> oracle = renderTrio(cases[c], 0);
        for (const int chunk : {1, 7, 64, 256}) {
            const std::vector<float> lanes = renderTrio(cases[c], chunk);
            ASSERT_EQ(lanes.size(), oracle.size());
            for (std::size_t i = 0; i < oracle.size(); ++i)
                ASSERT_EQ(lanes[i], oracle[i]) << "case " << c << ", chunk " << chunk << ", value " << i;
        }
    }
}

TEST(SineLanes, AgreesBitForBitWithTheScalarSine) {
    for (const double scale : {6.2831855, 1600.0, -20.0}) {
        for (int i = 0; i < 20000; i += 2) {
            const double x0 = scale * i / 20000.0;
            const double x1 = scale * (i + 1) / 20000.0 + 1e-9;
            alignas(16) double s[2];
            _mm_store_pd(s, sineLanes(_mm_setr_pd(x0, x1)));
            ASSERT_EQ(s[0], sine(x0)) << x0;
            ASSERT_EQ(s[1], sine(x1)) << x1;
            _mm_store_pd(s, cosineLanes(_mm_setr_pd(x0, x1)));
            ASSERT_EQ(s[0], cosine(x0)) << x0;
        }
    }
}

} // namespace
} // namespace zintor
