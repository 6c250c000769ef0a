// Rendering a voice in chunks of any size gives exactly the samples of rendering it one by one,
// across step starts, staccato releases, filter types and the kick's click.
#include "zintor/engine/KickDrum.h"
#include "zintor/engine/NoiseDrum.h"
#include "zintor/engine/SynthVoice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace zintor {
namespace {

constexpr int kStepFrames = 1500;
constexpr int kSteps = 24;

void fillPhrase(SynthVoice& voice) {
    for (int i = 0; i < SynthVoice::kPhraseSteps; ++i) {
        voice.notes[i] = static_cast<std::int8_t>((i * 7) % 25 - 12);
        voice.staccato[i] = static_cast<std::uint8_t>(i % 3 != 0);
        voice.envRates[i] = i % 2 ? 0.0002f : -0.01f;
    }
    voice.lfoRate = 0.01f;
    voice.inertia = 0.0004f;
    voice.resonance = 0.9f;
    voice.driveCeiling = 0.3f;
}

// Everything the voices output over kSteps steps, rendered in chunks of `chunk` frames
// (0: sample by sample with renderSample). The filter type changes every 8 steps.
std::vector<float> renderScene(int chunk) {
    SynthVoice line;
    KickDrum kick;
    NoiseDrum hat;
    NoiseDrum snare;
    fillPhrase(line);
    kick.pitchDecay = 0.999f;
    hat.tone = 0.93f;
    common::Random random;
    std::vector<float> out;
    std::vector<float> voiceOut(kStepFrames);
    std::vector<float> kickOut(kStepFrames);
    std::vector<float> hatOut(kStepFrames);
    std::vector<float> snareOut(kStepFrames);
    std::vector<int> draws(2 * kStepFrames);
    for (int step = 0; step < kSteps; ++step) {
        line.filterType = step / 8;
        line.triggerStep(step, kStepFrames, 0, random);
        if (step % 4 == 0)
            kick.strike();
        hat.strike();
        if (chunk == 0) {
            for (int i = 0; i < kStepFrames; ++i) {
                voiceOut[i] = line.renderSample(0.05f);
                kickOut[i] = kick.renderSample();
                hatOut[i] = hat.renderSample(random);
                snareOut[i] = snare.renderSample(random);
            }
        } else {
            for (int& d : draws)
                d = random.next();
            for (int start = 0; start < kStepFrames; start += chunk) {
                const int n = std::min(chunk, kStepFrames - start);
                line.render(&voiceOut[start], n, 0.05f);
                kick.render(&kickOut[start], n);
                hat.render(&hatOut[start], n, &draws[2 * start], 2);
                snare.render(&snareOut[start], n, &draws[2 * start + 1], 2);
            }
        }
        for (int i = 0; i < kStepFrames; ++i)
            out.insert(out.end(), {voiceOut[i], kickOut[i], hatOut[i], snareOut[i]});
    }
    return out;
}

TEST(VoiceChunks, AnyChunkSizeRendersTheSameSamples) {
    const std::vector<float> reference = renderScene(0);
    for (const int chunk : {1, 7, 64, 1000}) {
        const std::vector<float> chunked = renderScene(chunk);
        ASSERT_EQ(chunked.size(), reference.size());
        for (std::size_t i = 0; i < reference.size(); ++i)
            ASSERT_EQ(chunked[i], reference[i])
                << "chunk " << chunk << ", frame " << i / 4 << ", voice " << i % 4;
    }
}

} // namespace
} // namespace zintor
