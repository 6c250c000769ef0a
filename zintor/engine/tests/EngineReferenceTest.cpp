// The engine's chunked, side-by-side render gives exactly the frames of the engine's definition
// written out one frame at a time with each voice's own renderSample().
#include "zintor/engine/SynthEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace zintor {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

void fillPhrases(SynthVoice& v, int seed) {
    for (int i = 0; i < SynthVoice::kPhraseSteps; ++i) {
        v.notes[i].store(static_cast<std::int8_t>((i * 7 + seed) % 19 - 9), kRelaxed);
        v.staccato[i].store((i + seed) % 3 == 0, kRelaxed);
        v.envRates[i].store(0.0002f * static_cast<float>(seed + 1), kRelaxed);
    }
}

void setUp(SynthVoice& line1, SynthVoice& line2, SynthVoice& subBass) {
    fillPhrases(line1, 0);
    fillPhrases(line2, 1);
    fillPhrases(subBass, 2);
    line1.inertia.store(0.0005f, kRelaxed);
    line1.lfoRate.store(0.001f, kRelaxed);
    line2.filterType.store(2, kRelaxed);
    line2.square.store(true, kRelaxed);
    line2.resonance.store(0.9f, kRelaxed);
    subBass.filterType.store(1, kRelaxed);
}

struct Reference {
    SynthVoice line1;
    SynthVoice line2;
    SynthVoice subBass;
    KickDrum kick;
    NoiseDrum hit;
    NoiseDrum snare;
    NoiseDrum hat;
    TempoDelay delay;
    common::Random random;
    int step = 0;
    int sampleInStep = 0;
    int stepLength = 5000; // the first step has the start-up length
    int peakLeft = 0;
    int peakRight = 0;

    static constexpr int kSamplesPerStep = 1500;
    static constexpr int kStepCount = 13;
    static constexpr int kShuffle = 64;
    static constexpr float kGain = 16384.0f;
    static constexpr float kSubBassGain = 1.3f;

    static std::int16_t toSample(float v) {
        return static_cast<std::int16_t>(std::clamp(v, -32767.0f, 32767.0f));
    }

    void frame(std::int16_t& left, std::int16_t& right) {
        if (sampleInStep == 0) {
            line1.triggerStep(step, kSamplesPerStep, -1, random);
            line2.triggerStep(step, kSamplesPerStep, 11, random);
            subBass.triggerStep(step, kSamplesPerStep, -13, random);
            hat.strike();
            if (step % 4 == 0)
                kick.strike();
            const int distances[4] = {1, 2, 3, 5};
            if (step == kStepCount - distances[random.next() / 8192])
                kick.strike();
            if (step % 4 == 2)
                hit.strike();
            if (step % 8 == 4)
                snare.strike();
        }
        if (++sampleInStep >= stepLength) {
            sampleInStep = 0;
            ++step;
            const int shift = static_cast<int>(kShuffle * static_cast<double>(kSamplesPerStep) / 256.0);
            stepLength = step % 2 == 0 ? kSamplesPerStep + shift : kSamplesPerStep - shift;
            if (step >= kStepCount)
                step = 0;
        }
        const float s1 = line1.renderSample(0.05f);
        const float s2 = line2.renderSample(0.05f);
        const float s3 = subBass.renderSample(0.001f) * kSubBassGain;
        const float k = kick.renderSample() * 2.0f;
        const float h = hit.renderSample(random);
        const float n = snare.renderSample(random);
        const float t = hat.renderSample(random);
        float echoLeft;
        float echoRight;
        delay.process(s1 * line1.delaySend.load() + s2 * line2.delaySend.load() + 0.000030517578125f,
                      echoLeft, echoRight);
        left = toSample((t + echoLeft + n + h + k + s3 + s2 + s1) * kGain);
        right = toSample((t + (echoRight - h) + n + k + s3 + s2 + s1) * kGain);
        peakLeft = std::max(peakLeft - 1, 0);
        peakRight = std::max(peakRight - 1, 0);
        peakLeft = std::max<int>(peakLeft, left);
        peakRight = std::max<int>(peakRight, right);
    }
};

TEST(SynthEngineReference, RendersTheFramesOfTheOneFrameDefinition) {
    auto engine = std::make_unique<SynthEngine>();
    auto reference = std::make_unique<Reference>();
    setUp(engine->synthLine1, engine->synthLine2, engine->subBass);
    setUp(reference->line1, reference->line2, reference->subBass);
    engine->params.samplesPerStep.store(Reference::kSamplesPerStep, kRelaxed);
    engine->params.stepCount.store(Reference::kStepCount, kRelaxed);
    engine->params.shuffleAmount.store(Reference::kShuffle, kRelaxed);
    engine->params.masterGain.store(Reference::kGain, kRelaxed);
    engine->params.subBassGain.store(Reference::kSubBassGain, kRelaxed);
    engine->params.globalTranspose.store(-1, kRelaxed);
    engine->params.playing.store(true, kRelaxed);

    constexpr int kBlockFrames = 997; // blocks that end anywhere within the engine's chunks
    std::vector<std::int16_t> block(2 * kBlockFrames);
    for (int done = 0; done < 40 * kBlockFrames; done += kBlockFrames) {
        engine->renderBlock(block.data(), kBlockFrames * 4);
        for (int f = 0; f < kBlockFrames; ++f) {
            std::int16_t left;
            std::int16_t right;
            reference->frame(left, right);
            ASSERT_EQ(block[2 * f], left) << "frame " << done + f;
            ASSERT_EQ(block[2 * f + 1], right) << "frame " << done + f;
        }
        // The meters, read by the window after each block.
        ASSERT_EQ(engine->params.peakLeft.load(), reference->peakLeft) << "after frame " << done;
        ASSERT_EQ(engine->params.peakRight.load(), reference->peakRight) << "after frame " << done;
    }
}

} // namespace
} // namespace zintor
