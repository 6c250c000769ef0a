// The side-by-side renders (three synth voices in SSE lanes, three noise drums in lanes, the kick's
// sines four at a time) give bit for bit the samples of the one-voice, one-sample routines.
#include "zintor/engine/KickDrum.h"
#include "zintor/engine/NoiseDrum.h"
#include "zintor/engine/Sine.h"
#include "zintor/engine/SynthLines.h"
#include "zintor/engine/SynthVoice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <vector>

namespace zintor {
namespace {

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

struct Line {
    int filterType;
    bool square;
    float lfoRate;
    float inertia;
    float envRate;
    float driveCeiling;
};

void setUp(SynthVoice& v, const Line& line, int seed) {
    for (int i = 0; i < SynthVoice::kPhraseSteps; ++i) {
        v.notes[i] = static_cast<std::int8_t>((i * 5 + seed) % 24 - 12);
        v.staccato[i] = static_cast<std::uint8_t>((i + seed) % 3 == 0);
        v.envRates[i] = i % 2 ? line.envRate : -line.envRate;
    }
    v.filterType = line.filterType;
    v.square = line.square;
    v.lfoRate = line.lfoRate;
    v.inertia = line.inertia;
    v.driveCeiling = line.driveCeiling;
    v.resonance = 0.8f;
    v.setOscMix(64 + 40 * seed);
}

// Renders `steps` steps of three voices, side by side in chunks of `chunk` frames, or (chunk 0)
// each voice by its own renderSample(). Halfway through, the window moves some fields, a generator
// presets cutoffNow, and line 1 changes its filter type.
std::vector<float> renderTrio(const std::array<Line, 3>& lines, int chunk) {
    constexpr int kStepFrames = 997;
    constexpr int kSteps = 12;
    std::array<std::unique_ptr<SynthVoice>, 3> v;
    for (int j = 0; j < 3; ++j) {
        v[j] = std::make_unique<SynthVoice>();
        setUp(*v[j], lines[j], j);
    }
    const float ramps[3] = {0.05f, 0.05f, 0.001f};
    common::Random random;
    std::vector<float> out;
    alignas(16) std::array<float, 4 * 256> lanes{};
    for (int step = 0; step < kSteps; ++step) {
        if (step == kSteps / 2) {
            v[0]->filterType = (lines[0].filterType + 1) % 3;
            v[1]->lfoRate = 0.0007f;
            v[2]->cutoffNow = 0.3f;
            v[1]->cutoff = 0.2f;
        }
        for (int j = 0; j < 3; ++j)
            v[j]->triggerStep(step, kStepFrames, 12 * j - 12, random);
        for (int start = 0; start < kStepFrames;) {
            const int n = chunk == 0 ? 1 : std::min({chunk, kStepFrames - start, 256});
            if (chunk == 0) {
                for (int j = 0; j < 3; ++j)
                    lanes[j] = v[j]->renderSample(ramps[j]);
            } else {
                SynthLines::render(*v[0], *v[1], *v[2], ramps[0], ramps[1], ramps[2], lanes.data(), n);
            }
            for (int i = 0; i < n; ++i)
                out.insert(out.end(), {lanes[4 * i], lanes[4 * i + 1], lanes[4 * i + 2]});
            start += n;
        }
    }
    for (int j = 0; j < 3; ++j) // the state carried to the next render must match too
        out.insert(out.end(), {v[j]->cutoffNow.load(), v[j]->feedback, v[j]->stage1, v[j]->stage2,
                               v[j]->ringPhase, v[j]->amp, v[j]->lfoPhase});
    return out;
}

TEST(SynthLines, RenderTheSamplesOfEachVoiceAloneInAnyChunkSize) {
    const std::array<std::array<Line, 3>, 3> cases = {{
        // The engine's usual set: two low-pass lines and the sub bass.
        {{{0, false, 0.0001f, 0.0005f, 0.0001f, 0.5f},
          {0, true, 0.0003f, 0.00001f, 0.001f, 0.2f},
          {0, false, 0.0002f, 0.0f, 1.2f, 0.999f}}},
        // Every filter type at once; a fast LFO wraps often; a closing-only cutoff.
        {{{2, true, 0.05f, 0.001f, 0.0002f, 0.3f},
          {1, false, 0.01f, 0.0f, 0.00005f, 0.05f},
          {2, false, 0.0f, 0.0001f, 0.0f, 0.7f}}},
        // A negative inertia and a zero ramp of the LFO.
        {{{1, false, 0.0f, -0.0001f, 0.0003f, 0.4f},
          {2, true, 0.2f, 0.0002f, 0.0f, 0.9f},
          {0, true, 0.001f, 0.0003f, 0.01f, 0.5f}}},
    }};
    for (std::size_t c = 0; c < cases.size(); ++c) {
        const std::vector<float> reference = renderTrio(cases[c], 0);
        for (const int chunk : {1, 7, 64, 256}) {
            const std::vector<float> lanes = renderTrio(cases[c], chunk);
            ASSERT_EQ(lanes.size(), reference.size());
            for (std::size_t i = 0; i < reference.size(); ++i)
                ASSERT_EQ(lanes[i], reference[i]) << "case " << c << ", chunk " << chunk << ", value " << i;
        }
    }
}

TEST(NoiseDrumLanes, RenderTheSamplesOfEachDrumAlone) {
    NoiseDrum alone[3];
    NoiseDrum together[3];
    const float decays[3] = {0.998f, 0.9995f, 0.998f};
    const float tones[3] = {0.5f, 0.88f, 0.93f};
    for (int j = 0; j < 3; ++j)
        for (NoiseDrum* d : {&alone[j], &together[j]}) {
            d->decay = decays[j];
            d->tone = tones[j];
        }
    common::Random random;
    std::vector<int> draws(3 * 5000 + 1);
    for (int& d : draws)
        d = random.next();
    alignas(16) std::array<float, 4> lanesOut{};
    for (int i = 0; i < 5000; ++i) {
        if (i % 1700 == 0)
            for (int j = 0; j < 3; ++j) {
                alone[j].strike();
                together[j].strike();
            }
        NoiseDrumLanes lanes(together[0], together[1], together[2]);
        _mm_store_ps(lanesOut.data(), lanes.next(&draws[3 * i]));
        lanes.store();
        for (int j = 0; j < 3; ++j) {
            float one;
            alone[j].render(&one, 1, &draws[3 * i + j], 1);
            ASSERT_EQ(lanesOut[j], one) << "drum " << j << ", frame " << i;
        }
    }
}

TEST(KickDrum, RendersTheDefiningRecurrenceInAnyChunkSize) {
    for (const int chunk : {1, 3, 64, 256}) {
        KickDrum kick;
        kick.startIncrement = 0.3f;
        kick.pitchDecay = 0.999f;
        kick.volume = 0.7f;
        // The kick's arithmetic written out: the sine of the phase before each advance.
        float phase = 0.0f;
        float increment = 0.0f;
        bool click = false;
        std::vector<float> out(256);
        for (int frame = 0; frame < 30000;) {
            if (frame % 12000 == 0) {
                kick.strike();
                phase = 0.0f;
                increment = 0.3f;
                click = true;
            }
            const int n = std::min(chunk, 12000 - frame % 12000);
            kick.render(out.data(), n);
            for (int i = 0; i < n; ++i, ++frame) {
                const float s = static_cast<float>(sine(phase));
                phase += increment;
                increment *= 0.999f;
                const float expected = click ? 0.7f : s * 0.7f;
                click = false;
                ASSERT_EQ(out[i], expected) << "chunk " << chunk << ", frame " << frame;
            }
        }
    }
}

} // namespace
} // namespace zintor
