// The synth engine frame: step timing with shuffle, fill kicks, the tempo delay, output stage and meters.
#include "zintor/engine/SynthEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace zintor {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

struct Frame {
    int left;
    int right;
};

std::vector<Frame> render(SynthEngine& engine, int frames, int blockFrames = 1000) {
    std::vector<Frame> out;
    out.reserve(static_cast<std::size_t>(frames));
    std::vector<std::int16_t> block(2 * static_cast<std::size_t>(blockFrames));
    for (int done = 0; done < frames;) {
        const int n = std::min(blockFrames, frames - done);
        engine.renderBlock(block.data(), n * 4);
        for (int f = 0; f < n; ++f)
            out.push_back({block[2 * f], block[2 * f + 1]});
        done += n;
    }
    return out;
}

/// Mutes every voice so that only what a test switches on reaches the output.
void silenceAll(SynthEngine& e) {
    for (VoiceControls* v : {&e.synthLine1, &e.synthLine2, &e.subBass})
        v->volume.store(0.0f, kRelaxed);
    e.kick.volume.store(0.0f, kRelaxed);
    for (NoiseControls* d : {&e.hitVoice, &e.snareVoice, &e.hatVoice})
        d->decay.store(0.0f, kRelaxed);
}

/// Lengths of the steps the sequencer plays, measured frame by frame from its position.
std::vector<int> stepLengths(SynthEngine& engine, int steps) {
    std::vector<int> lengths;
    std::int16_t frame[2];
    int length = 0;
    int step = engine.currentStep();
    while (static_cast<int>(lengths.size()) < steps) {
        engine.renderBlock(frame, 4);
        ++length;
        if (engine.currentStep() != step || length > 100000) {
            lengths.push_back(length);
            length = 0;
            step = engine.currentStep();
        }
    }
    return lengths;
}

std::unique_ptr<SynthEngine> playingEngine() {
    auto e = std::make_unique<SynthEngine>();
    e->params.playing.store(true, kRelaxed);
    return e;
}

TEST(SynthEngineClock, ShuffleLengthensEvenStepsAndShortensOddOnesByTheUnwrappedIndex) {
    struct Case {
        int stepCount;
        int shuffle;
        int firstStep;            // index into the played steps
        std::vector<int> lengths; // from there on
    };
    const Case cases[] = {
        {16, 128, 0, {5000, 2500, 7500, 2500}}, // the first step keeps the plain length
        {16, 128, 15, {2500, 7500, 2500}},      // step 15, then step 0 of the second pass long
        {15, 128, 14, {7500, 2500, 2500}}, // odd count: step 0 follows index 15 and is short, as is step 1
        {16, 256, 1, {1, 10000, 1}},       // full shuffle: odd steps last one sample
    };
    for (const Case& c : cases) {
        auto e = playingEngine();
        e->params.stepCount.store(c.stepCount, kRelaxed);
        e->params.shuffleAmount.store(c.shuffle, kRelaxed);
        const std::vector<int> all = stepLengths(*e, c.firstStep + static_cast<int>(c.lengths.size()));
        EXPECT_EQ(std::vector<int>(all.begin() + c.firstStep, all.end()), c.lengths)
            << c.stepCount << " steps, shuffle " << c.shuffle;
    }
}

TEST(SynthEngineClock, StepCountZeroRepeatsStepZeroAndOversizedCountsStayInPhrase) {
    auto e = playingEngine();
    e->params.samplesPerStep.store(10, kRelaxed);
    e->params.stepCount.store(0, kRelaxed);
    std::int16_t frame[2];
    for (int i = 0; i < 20000; ++i) {
        e->renderBlock(frame, 4);
        ASSERT_EQ(e->currentStep(), 0);
    }
    // A count beyond the 256-step phrases (which the window never stores) must not index past them.
    e->params.stepCount.store(100000, kRelaxed);
    for (int i = 0; i < 300 * 10; ++i) {
        e->renderBlock(frame, 4);
        ASSERT_LT(e->currentStep(), kMaxStepCount);
    }
}

TEST(SynthEngineClock, FillKicksOnlyOnTheLastSecondLastThirdLastAndFifthLastSteps) {
    auto e = playingEngine();
    silenceAll(*e);
    e->params.samplesPerStep.store(100, kRelaxed);
    // A fast-settling kick stays far below its click, so a click marks a strike.
    e->kick.volume.store(0.9f, kRelaxed);
    e->kick.pitchDecay.store(0.85f, kRelaxed);
    e->synthLine1.delaySend.store(0.0f, kRelaxed);
    e->synthLine2.delaySend.store(0.0f, kRelaxed);
    constexpr int kPasses = 200;
    // The first step keeps the start tempo's 5000 frames; every later one lasts 100.
    constexpr int kFirstStep = 5000;
    const std::vector<Frame> out = render(*e, kFirstStep + kPasses * 16 * 100);
    std::vector<int> strikesPerStep(16, 0);
    for (int f = 0; f < static_cast<int>(out.size()); ++f) {
        if (out[f].right > 20000) {
            const int sinceFirst = f < kFirstStep ? -100 : f - kFirstStep;
            ASSERT_TRUE(f == 0 || sinceFirst % 100 == 0) << "a strike off a step start at " << f;
            ++strikesPerStep[f == 0 ? 0 : (1 + sinceFirst / 100) % 16];
        }
    }
    for (int step : {0, 4, 8, 12})
        EXPECT_GE(strikesPerStep[step], kPasses) << "regular kick on step " << step;
    for (int step : {11, 13, 14, 15})
        EXPECT_GT(strikesPerStep[step], 0) << "fill on step " << step;
    for (int step : {1, 2, 3, 5, 6, 7, 9, 10})
        EXPECT_EQ(strikesPerStep[step], 0) << "no kick on step " << step;
}

TEST(TempoDelay, EchoesAtThreeStepsLeftAndInvertedThenFiveStepsRight) {
    auto delay = std::make_unique<TempoDelay>();
    delay->reset(5000);
    std::vector<float> left(60000);
    std::vector<float> right(60000);
    for (int t = 0; t < 60000; ++t)
        delay->process(t == 0 ? 1.0f : 0.0f, left[t], right[t]);
    for (int t = 0; t < 60000; ++t) {
        const float expectLeft = t == 14999   ? 1.0f
                                 : t == 29999 ? 0.5f
                                 : t == 44999 ? 0.25f
                                 : t == 59999 ? 0.125f
                                              : 0.0f;
        const float expectRight = t == 14999   ? -1.0f
                                  : t == 24999 ? 0.5f
                                  : t == 39999 ? 0.25f
                                  : t == 54999 ? 0.125f
                                               : 0.0f;
        ASSERT_EQ(left[t], expectLeft) << "left at " << t;
        ASSERT_EQ(right[t], expectRight) << "right at " << t;
    }
}

/// Output of a scene where synthLine1 sounds for one frame only, with the given delay send.
std::vector<Frame> oneFrameBurst(float send) {
    auto e = playingEngine();
    silenceAll(*e);
    e->params.masterGain.store(24000.0f, kRelaxed);
    e->params.samplesPerStep.store(3000, kRelaxed); // a tempo change after the delay was placed
    e->synthLine2.delaySend.store(0.0f, kRelaxed);
    e->synthLine1.delaySend.store(send, kRelaxed);
    PhraseState squareWave;
    squareWave.square = true;
    e->sendPhrase(kSynthLine1, squareWave);
    e->settle();
    VoiceControls& v = e->synthLine1;
    v.filterType.store(1, kRelaxed);
    v.driveCeiling.store(0.05f, kRelaxed);
    v.volume.store(0.4f, kRelaxed);
    std::vector<Frame> out = render(*e, 1);
    v.volume.store(0.0f, kRelaxed);
    const std::vector<Frame> rest = render(*e, 45000);
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

TEST(SynthEngineDelay, EchoesStayPutAfterATempoChange) {
    const std::vector<Frame> sent = oneFrameBurst(0.5f);
    const std::vector<Frame> dry = oneFrameBurst(0.0f);
    std::vector<int> leftEchoes;
    std::vector<int> rightEchoes;
    for (std::size_t t = 0; t < sent.size(); ++t) {
        if (sent[t].left != dry[t].left)
            leftEchoes.push_back(static_cast<int>(t));
        if (sent[t].right != dry[t].right)
            rightEchoes.push_back(static_cast<int>(t));
    }
    EXPECT_EQ(leftEchoes, (std::vector<int>{14999, 29999, 44999}));
    EXPECT_EQ(rightEchoes, (std::vector<int>{14999, 24999, 39999}));
    EXPECT_GT(sent[14999].left - dry[14999].left, 500);
    EXPECT_LT(sent[14999].right - dry[14999].right, -500); // inverted
    EXPECT_GT(sent[24999].right - dry[24999].right, 250);
}

TEST(SynthEngineDelay, DelayConstantSettlesLeftAtOneAndRightAtZero) {
    auto e = playingEngine();
    silenceAll(*e);
    const std::vector<Frame> out = render(*e, 40 * 15000);
    for (std::size_t t = out.size() - 1000; t < out.size(); ++t) {
        ASSERT_EQ(out[t].left, 1) << t;
        ASSERT_EQ(out[t].right, 0) << t;
    }
}

TEST(SynthEngineDelay, NonFiniteValuesNeitherReachTheOutputNorStickInTheDelay) {
    auto e = playingEngine();
    e->synthLine1.delaySend.store(std::numeric_limits<float>::quiet_NaN(), kRelaxed);
    e->params.masterGain.store(std::numeric_limits<float>::quiet_NaN(), kRelaxed);
    for (const Frame& f : render(*e, 1000))
        ASSERT_TRUE(f.left == 0 && f.right == 0);
    // Back to sane values: the delay recovers and settles as a clean one would.
    e->synthLine1.delaySend.store(0.5f, kRelaxed);
    e->params.masterGain.store(16384.0f, kRelaxed);
    silenceAll(*e);
    const std::vector<Frame> out = render(*e, 40 * 15000);
    EXPECT_EQ(out.back().left, 1);
    EXPECT_EQ(out.back().right, 0);
}

TEST(SynthEngineOutput, ClampsToFullScaleAndTruncatesTowardZero) {
    {
        auto e = playingEngine();
        silenceAll(*e);
        e->params.masterGain.store(24000.0f, kRelaxed);
        e->kick.volume.store(0.9f, kRelaxed);      // click 1.8 × 24000
        e->kick.pitchDecay.store(0.99f, kRelaxed); // settles at sin(5.0) × 1.8 × 24000, far below −32767
        const std::vector<Frame> out = render(*e, 4000);
        EXPECT_EQ(out[0].left, 32767);
        EXPECT_EQ(out[0].right, 32767);
        EXPECT_EQ(out[3999].left, -32767);
        EXPECT_EQ(out[3999].right, -32767);
    }
    {
        // The delay's first echo of its constant input is ±2^−15: at a gain of 2.7 × 2^15 it gives
        // +2.7 on the left and −2.7 on the right, which truncate to 2 and −2.
        auto e = playingEngine();
        silenceAll(*e);
        e->params.masterGain.store(2.7f * 32768.0f, kRelaxed);
        const std::vector<Frame> out = render(*e, 15001);
        EXPECT_EQ(out[14998].left, 0);
        EXPECT_EQ(out[14999].left, 2);
        EXPECT_EQ(out[14999].right, -2);
    }
}

TEST(SynthEngineOutput, StoppedEngineIsSilentHoldsItsPlaceAndPeaksFallOnePerFrame) {
    auto e = std::make_unique<SynthEngine>();
    for (const Frame& f : render(*e, 3000, 64))
        ASSERT_TRUE(f.left == 0 && f.right == 0);
    EXPECT_EQ(e->currentStep(), 0);

    silenceAll(*e);
    e->params.playing.store(true, kRelaxed);
    e->kick.volume.store(0.9f, kRelaxed);
    render(*e, 1); // the kick's click at full scale
    const int peak = e->params.peakLeft.load(kRelaxed);
    EXPECT_EQ(peak, 29491); // 0.9 × 2 × 16384, truncated
    e->params.playing.store(false, kRelaxed);
    for (int i = 1; i <= 100; ++i) {
        const std::vector<Frame> f = render(*e, 1);
        ASSERT_EQ(f[0].left, 0);
        ASSERT_EQ(e->params.peakLeft.load(kRelaxed), peak - i);
    }
}

TEST(SynthEngineOutput, ShortBlocksWriteWholeFramesOnly) {
    auto e = playingEngine();
    std::vector<unsigned char> buffer(4004, 0xAB);
    EXPECT_TRUE(e->renderBlock(buffer.data(), 3));
    EXPECT_EQ(buffer[0], 0xAB);
    EXPECT_TRUE(e->renderBlock(buffer.data(), 4001));
    EXPECT_EQ(buffer[4000], 0xAB); // 1000 frames, the odd byte untouched
}

TEST(SynthEngineOutput, OutputIsIdenticalWhateverTheBlockSize) {
    std::vector<std::vector<Frame>> runs;
    for (int block : {1, 7, 64, 512}) {
        auto e = playingEngine();
        e->params.stepCount.store(13, kRelaxed);
        e->params.shuffleAmount.store(77, kRelaxed);
        e->params.samplesPerStep.store(1500, kRelaxed);
        PhraseState line1;
        PhraseState line2;
        for (int i = 0; i < kPhraseSteps; ++i) {
            line1.notes[i] = static_cast<std::int8_t>(i % 13);
            line1.staccato[i] = i % 3 == 0;
            line2.staccato[i] = i % 2 == 0;
            line1.envRates[i] = 0.0001f;
        }
        line2.square = true;
        e->synthLine2.filterType.store(2, kRelaxed); // every filter type: ring, and high-pass on the sub bass
        e->subBass.filterType.store(1, kRelaxed);
        e->sendPhrase(kSynthLine1, line1);
        e->sendPhrase(kSynthLine2, line2);
        runs.push_back(render(*e, 60000, block));
    }
    for (std::size_t r = 1; r < runs.size(); ++r)
        for (std::size_t t = 0; t < runs[0].size(); ++t) {
            ASSERT_EQ(runs[r][t].left, runs[0][t].left) << "run " << r << " frame " << t;
            ASSERT_EQ(runs[r][t].right, runs[0][t].right) << "run " << r << " frame " << t;
        }
}

} // namespace
} // namespace zintor
