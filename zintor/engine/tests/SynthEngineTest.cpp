// The synth engine frame at its edges: degenerate step counts and shuffle, the tempo delay's taps, values
// that are not finite, the output clamp, stopped output and short blocks. Ordinary timing, fill kicks,
// the mix, the meters and block-size independence are checked frame by frame in EngineReferenceTest.
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

TEST(SynthEngineClock, DegenerateCountsAndFullShuffleStayInThePhraseAndKeepMoving) {
    {
        auto e = playingEngine(); // full shuffle: odd steps last one sample, never none
        e->params.shuffleAmount.store(256, kRelaxed);
        const std::vector<int> lengths = stepLengths(*e, 4);
        EXPECT_EQ(std::vector<int>(lengths.begin() + 1, lengths.end()), (std::vector<int>{1, 10000, 1}));
    }
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

TEST(SynthEngineDelay, EchoesThreeStepsLeftAndInvertedThenFiveRightAndStayPutAfterATempoChange) {
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
    EXPECT_LT(sent[24999].right - dry[24999].right, sent[14999].left - dry[14999].left); // each half the last
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

TEST(SynthEngineOutput, ClampsToFullScaleIsSilentStoppedAndWritesWholeFramesOnly) {
    auto e = std::make_unique<SynthEngine>();
    for (const Frame& f : render(*e, 3000, 64))
        ASSERT_TRUE(f.left == 0 && f.right == 0);
    EXPECT_EQ(e->currentStep(), 0); // stopped holds its place

    e->params.playing.store(true, kRelaxed);
    silenceAll(*e);
    e->params.masterGain.store(24000.0f, kRelaxed);
    e->kick.volume.store(0.9f, kRelaxed);      // click 1.8 × 24000
    e->kick.pitchDecay.store(0.99f, kRelaxed); // settles at sin(5.0) × 1.8 × 24000, far below −32767
    const std::vector<Frame> out = render(*e, 4000);
    EXPECT_EQ(out[0].left, 32767);
    EXPECT_EQ(out[0].right, 32767);
    EXPECT_EQ(out[3999].left, -32767);
    EXPECT_EQ(out[3999].right, -32767);

    std::vector<unsigned char> buffer(4004, 0xAB);
    EXPECT_TRUE(e->renderBlock(buffer.data(), 3));
    EXPECT_EQ(buffer[0], 0xAB);
    EXPECT_TRUE(e->renderBlock(buffer.data(), 4001));
    EXPECT_EQ(buffer[4000], 0xAB); // 1000 frames, the odd byte untouched
}

} // namespace
} // namespace zintor
