// The oracle: the engine's block render gives exactly the frames of the engine's definition written out
// one frame at a time, each unit rendering one sample per call.
#include "zintor/engine/SynthEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace zintor {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

PhraseState testPhrase(int seed) {
    PhraseState phrase;
    for (int i = 0; i < kPhraseSteps; ++i) {
        phrase.notes[i] = static_cast<std::int8_t>((i * 7 + seed) % 19 - 9);
        phrase.staccato[i] = (i + seed) % 3 == 0;
        phrase.envRates[i] = 0.0002f * static_cast<float>(seed + 1);
    }
    phrase.lfoRate = 0.001f * static_cast<float>(seed + 1);
    phrase.square = seed == 1;
    return phrase;
}

/// Every parameter as the engine is given it: all three filter types, a closing-only cutoff.
BlockParams testParams() {
    BlockParams p;
    p.samplesPerStep = 1500;
    p.stepCount = 13;
    p.shuffleAmount = 64;
    p.globalTranspose = -1;
    p.voices[kSynthLine1].inertia = 0.0005f;
    p.voices[kSynthLine2].filterType = 2;
    p.voices[kSynthLine2].resonance = 0.9f;
    p.voices[kSubBass].filterType = 1;
    p.kick.pitchDecay = 0.999f;
    p.hat = {0.998f, 0.93f};
    p.snare = {0.9995f, 0.88f};
    return p;
}

/// The engine frame by frame.
struct Reference {
    BlockParams p = testParams();
    SynthVoice voices[kSynthVoices];
    KickDrum kick;
    NoiseDrum hit;
    NoiseDrum snare;
    NoiseDrum hat;
    TempoDelay delay;
    common::Random random;
    int step = 0;
    int sampleInStep = 0;
    int stepLength = 1500;
    int peakLeft = 0;
    int peakRight = 0;

    Reference() {
        for (int i = 0; i < kSynthVoices; ++i)
            voices[i].phrase = testPhrase(i);
        delay.reset(1500);
    }

    static std::int16_t toSample(float v) {
        return static_cast<std::int16_t>(std::clamp(v, -32767.0f, 32767.0f));
    }
    SynthLines lines;
    float noise(NoiseDrum& drum, const NoiseParams& params) {
        return NoiseDrum::next(drum.state, random.next(), params);
    }

    void frame(std::int16_t& left, std::int16_t& right) {
        if (sampleInStep == 0) {
            voices[0].triggerStep(step, p.samplesPerStep, p.globalTranspose, random);
            voices[1].triggerStep(step, p.samplesPerStep, p.globalTranspose + 12, random);
            voices[2].triggerStep(step, p.samplesPerStep, p.globalTranspose - 12, random);
            hat.strike();
            if (step % 4 == 0)
                kick.strike(p.kick.startIncrement);
            const int distances[4] = {1, 2, 3, 5};
            if (step == p.stepCount - distances[random.next() / 8192])
                kick.strike(p.kick.startIncrement);
            if (step % 4 == 2)
                hit.strike();
            if (step % 8 == 4)
                snare.strike();
        }
        if (++sampleInStep >= stepLength) {
            sampleInStep = 0;
            ++step;
            const int shift =
                static_cast<int>(p.shuffleAmount * static_cast<double>(p.samplesPerStep) / 256.0);
            stepLength = step % 2 == 0 ? p.samplesPerStep + shift : p.samplesPerStep - shift;
            if (step >= p.stepCount)
                step = 0;
        }
        SynthVoice* const all[kSynthVoices] = {&voices[0], &voices[1], &voices[2]};
        const float ramps[kSynthVoices] = {0.05f, 0.05f, 0.001f};
        lines.render(all, p.voices, ramps, 1);
        const float s1 = lines.sample(0, 0);
        const float s2 = lines.sample(0, 1);
        const float s3 = lines.sample(0, 2) * p.subBassGain;
        float k;
        kick.render(&k, 1, p.kick);
        k *= 2.0f;
        const float h = noise(hit, p.hit);
        const float n = noise(snare, p.snare);
        const float t = noise(hat, p.hat);
        float echoLeft;
        float echoRight;
        delay.process(s1 * 0.5f + s2 * 0.5f + 0.000030517578125f, echoLeft, echoRight);
        left = toSample((t + echoLeft + n + h + k + s3 + s2 + s1) * p.masterGain);
        right = toSample((t + (echoRight - h) + n + k + s3 + s2 + s1) * p.masterGain);
        peakLeft = std::max({peakLeft - 1, 0, static_cast<int>(left)});
        peakRight = std::max({peakRight - 1, 0, static_cast<int>(right)});
    }
};

void setUp(SynthEngine& engine) {
    const BlockParams p = testParams();
    engine.params.samplesPerStep.store(p.samplesPerStep, kRelaxed);
    engine.resetDelay(); // the taps at 1500 frames per step
    engine.params.stepCount.store(p.stepCount, kRelaxed);
    engine.params.shuffleAmount.store(p.shuffleAmount, kRelaxed);
    engine.params.playing.store(true, kRelaxed);
    VoiceControls* const controls[kSynthVoices] = {&engine.synthLine1, &engine.synthLine2, &engine.subBass};
    for (int i = 0; i < kSynthVoices; ++i) {
        controls[i]->filterType.store(p.voices[i].filterType, kRelaxed);
        controls[i]->inertia.store(p.voices[i].inertia, kRelaxed);
        controls[i]->resonance.store(p.voices[i].resonance, kRelaxed);
        engine.sendPhrase(i, testPhrase(i));
    }
    engine.kick.pitchDecay.store(p.kick.pitchDecay, kRelaxed);
    engine.hatVoice.decay.store(p.hat.decay, kRelaxed);
    engine.hatVoice.tone.store(p.hat.tone, kRelaxed);
    engine.snareVoice.decay.store(p.snare.decay, kRelaxed);
    engine.snareVoice.tone.store(p.snare.tone, kRelaxed);
}

TEST(SynthEngineReference, RendersTheFramesOfTheOneFrameDefinition) {
    auto reference = std::make_unique<Reference>();
    for (const int blockFrames : {997, 64}) { // blocks that end anywhere within the engine's chunks
        auto engine = std::make_unique<SynthEngine>();
        reference = std::make_unique<Reference>();
        setUp(*engine);
        reference->stepLength = 5000; // the first step keeps the start tempo's length
        std::vector<std::int16_t> block(2 * static_cast<std::size_t>(blockFrames));
        for (int done = 0; done < 40000; done += blockFrames) {
            engine->renderBlock(block.data(), blockFrames * 4);
            for (int f = 0; f < blockFrames; ++f) {
                std::int16_t left;
                std::int16_t right;
                reference->frame(left, right);
                ASSERT_EQ(block[2 * f], left) << "frame " << done + f << ", blocks of " << blockFrames;
                ASSERT_EQ(block[2 * f + 1], right) << "frame " << done + f << ", blocks of " << blockFrames;
            }
            // The meters, read by the window after each block.
            ASSERT_EQ(engine->params.peakLeft.load(), reference->peakLeft) << "after frame " << done;
            ASSERT_EQ(engine->params.peakRight.load(), reference->peakRight) << "after frame " << done;
        }
    }
}

} // namespace
} // namespace zintor
