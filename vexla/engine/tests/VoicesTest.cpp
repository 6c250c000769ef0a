// The basslines, kick, hi-hats and sine: pitches measured from the output, gates, clamps, slides, accents.
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/engine/Scene.h"
#include "vexla/engine/tests/EngineTestSupport.h"
#include "vexla/engine/tests/OneFrame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace vexla {
namespace {

using testing::makeQuietEngine;
using testing::renderInBlocks;

// One bassline alone: notes 0, mode 0, gates always open, a clip level that never bites.
std::unique_ptr<LoopEngine> makeBassOnlyEngine(BassKind kind) {
    auto engine = makeQuietEngine();
    BassVoice& voice = kind == BassKind::Bass1 ? engine->bass1 : engine->bass2;
    for (int i = 0; i < kStepTableSize; ++i) {
        voice.pattern.notes[i] = 0;
        voice.pattern.gates[i] = 5000;
    }
    voice.pattern.mode = 0;
    voice.pattern.clip = 8191.0f;
    voice.pattern.resonance = 0.5f;
    voice.pattern.echoSend = 0.0f;
    return engine;
}

TEST(BassPitch, Bass2PlaysNoteZeroAt86HzAndBass1AnOctaveLower) {
    auto bass2 = makeBassOnlyEngine(BassKind::Bass2);
    const auto out2 = testing::leftChannel(renderInBlocks(*bass2, 20000, 256));
    EXPECT_NEAR(testing::frequencyByAutocorrelation({out2.begin() + 2000, out2.end()}, 300, 800), 86.13, 0.1);
    EXPECT_EQ(bass2->bass2.increment(), 1.0f);

    auto bass1 = makeBassOnlyEngine(BassKind::Bass1);
    const auto out1 = testing::leftChannel(renderInBlocks(*bass1, 20000, 256));
    EXPECT_NEAR(testing::frequencyByAutocorrelation({out1.begin() + 2000, out1.end()}, 700, 1400), 43.07,
                0.03);
}

TEST(BassPitch, TransposeAndModeShiftTheFirstHalfOnly) {
    BassVoice voice(BassKind::Bass2);
    voice.pattern.mode = 1; // a fourth up in the first half
    voice.stepLoad(7, 16, 0);
    EXPECT_NEAR(voice.increment(), std::pow(2.0, 5.0 / 12.0), 1e-6);
    voice.stepLoad(8, 16, 0);
    EXPECT_EQ(voice.increment(), 1.0f);
    voice.stepLoad(1, 3, -12); // with 3 steps only step 0 is shifted
    EXPECT_NEAR(voice.increment(), 0.5, 1e-6);
    voice.pattern.mode = 3;
    voice.stepLoad(0, 3, 12);
    EXPECT_NEAR(voice.increment(), std::pow(2.0, 15.0 / 12.0), 1e-5);
}

TEST(BassGate, AmplitudeClimbsBy16AndFallsWhenTheGateCloses) {
    BassVoice voice(BassKind::Bass1);
    voice.pattern.gates[0] = 3334;
    voice.stepLoad(0, 16, 0);
    for (int counter = 1; counter <= 3334; ++counter) {
        testing::renderOne(voice, 2048.0f, counter);
        if (counter == 127) {
            EXPECT_EQ(voice.amp(), 2032.0f);
        }
    }
    EXPECT_EQ(voice.amp(), 2048.0f);
    testing::renderOne(voice, 2048.0f, 3335); // the gate has closed: target 1, amplitude steps down
    EXPECT_EQ(voice.amp(), 2032.0f);
    for (int counter = 3336; counter <= 5000; ++counter)
        testing::renderOne(voice, 2048.0f, counter);
    EXPECT_EQ(voice.amp(), 0.0f); // 0 → 16 → 0 within each frame
}

TEST(BassGenerator, ClampsResonanceAndKeepsEveryValueInRange) {
    bool bass1AtLow = false, bass2AtLow = false, atHigh = false;
    std::set<int> gates;
    for (std::uint32_t seed = 1; seed <= 3000; ++seed) {
        common::Random random(seed);
        BassVoice b1(BassKind::Bass1), b2(BassKind::Bass2);
        BassVoice::generate(b1.pattern, BassKind::Bass1, random, 16, 5000);
        BassVoice::generate(b2.pattern, BassKind::Bass2, random, 16, 5000);
        for (const BassVoice* v : {&b1, &b2}) {
            EXPECT_LE(v->pattern.resonance, 0.98f);
            EXPECT_GE(v->pattern.mode, 0);
            EXPECT_LE(v->pattern.mode, 3);
            EXPECT_GE(v->pattern.clip, 0.0f);
            EXPECT_LE(v->pattern.clip, 8191.0f);
            atHigh = atHigh || v->pattern.resonance == 0.98f;
            for (int i = 0; i < 16; ++i)
                gates.insert(v->pattern.gates[i]);
        }
        EXPECT_GE(b1.pattern.resonance, 0.1f);
        EXPECT_GE(b2.pattern.resonance, 0.8f);
        bass1AtLow = bass1AtLow || b1.pattern.resonance == 0.1f;
        bass2AtLow = bass2AtLow || b2.pattern.resonance == 0.8f;
    }
    EXPECT_TRUE(bass1AtLow && bass2AtLow && atHigh);
    EXPECT_EQ(gates, (std::set<int>{2500, 3334, 5000}));
}

TEST(RandomNote, DrawsThreeNumbersAndGivesOnlyTheListedNotes) {
    const std::set<int> allowed{0, 12, 24, 1, 3, 5, 13, -2, -5};
    std::set<int> seen;
    common::Random random(5);
    for (int i = 0; i < 2000; ++i) {
        common::Random copy = random;
        seen.insert(randomNote(random));
        copy.next();
        copy.next();
        copy.next();
        ASSERT_EQ(copy.state(), random.state());
    }
    EXPECT_EQ(seen, allowed);
}

TEST(Kick, SlideStopsTheFirstPartialAfter151FramesAndHoldsItsLevel) {
    KickVoice kick;
    kick.pattern.startFreq = 0.06f;
    kick.pattern.slide1 = 1023 * 0.000004859842f * 0.08f;
    kick.trigger();
    EXPECT_EQ(testing::renderOne(kick, 8192.0f), 0.0f); // sin(0) at the trigger
    int frames = 1;
    while (kick.freq1() > 0.0f) {
        testing::renderOne(kick, 8192.0f);
        ++frames;
    }
    EXPECT_EQ(frames, 151);
    const float held = testing::renderOne(kick, 8192.0f);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(testing::renderOne(kick, 8192.0f), held);
}

TEST(Kick, GenerateSilencesTheFirstPartialAtTheNextBlockUntilTheNextTrigger) {
    auto engine = testing::makeQuietEngine();
    engine->kick.pattern.startFreq = 0.06f;
    engine->kick.pattern.slide1 = 0.0f;
    testing::renderInBlocks(*engine, 10, 10); // the trigger at step 0
    ASSERT_EQ(engine->kick.freq1(), 0.06f);
    common::Random window(3);
    engine->generateKick(window); // on the window thread: pattern and silence go through the mailbox
    EXPECT_EQ(engine->kick.freq1(), 0.06f) << "not before the next block";
    EXPECT_EQ(engine->kick.pattern.startFreq, 0.06f) << "not before the next block";
    EXPECT_NE(captureScene(*engine).kick, engine->kick.pattern) << "the window sees it at once";
    testing::renderInBlocks(*engine, 1, 1);
    EXPECT_EQ(engine->kick.freq1(), 0.0f);
    EXPECT_GT(engine->kick.freq2(), 0.0f);
    EXPECT_EQ(engine->kick.pattern, captureScene(*engine).kick);
    engine->kick.pattern.slide1 = 0.0f;              // so that the next trigger's frequency holds
    testing::renderInBlocks(*engine, 4 * 5001, 512); // the next trigger, four steps on
    EXPECT_EQ(engine->kick.freq1(), engine->kick.pattern.startFreq);
}

TEST(Hats, StepFourPlaysTheAccentUnlessSwitchedOffAndStepSixDoublesItsLevel) {
    auto peakAfterStepLoad = [](HatVoice& hats, int step, int from, int to) {
        common::Random noise(1);
        hats.stepLoad(step);
        float peak = 0;
        for (int i = 0; i < to; ++i) {
            const float v = std::fabs(testing::renderOne(hats, noise));
            if (i >= from)
                peak = std::max(peak, v);
        }
        return peak;
    };
    HatVoice hats;                                           // zero tables, as before the first "HiHats"
    EXPECT_GT(peakAfterStepLoad(hats, 4, 0, 100), 5000.0f);  // accent: level 1.0
    EXPECT_LT(peakAfterStepLoad(hats, 4, 1100, 1200), 1.0f); // its decay of 0.001 ends it after 1000 frames
    hats.pattern.accentOff = 1;
    EXPECT_LT(peakAfterStepLoad(hats, 4, 100, 200), 1.0f);
    hats.pattern.levels[6] = hats.pattern.levels[5] = 0.25f;
    hats.pattern.decays[6] = hats.pattern.decays[5] = 0.0f;
    const float plain = peakAfterStepLoad(hats, 5, 100, 2000);
    EXPECT_NEAR(peakAfterStepLoad(hats, 6, 100, 2000) / plain, 2.0, 1e-3); // same noise, twice the level
}

TEST(Sine, NoteZeroSoundsAt344HzAndNeverRests) {
    auto engine = makeQuietEngine();
    engine->params.sineVolume = 1.0f;
    for (int i = 0; i < kStepTableSize; ++i) {
        engine->sine.pattern.notes[i] = 0;
        engine->sine.pattern.levels[i] = 0.5f;
        engine->sine.pattern.decays[i] = 0.0f;
    }
    engine->sine.pattern.echoSend = 0.0f;
    const auto left = testing::leftChannel(renderInBlocks(*engine, 44100, 441));
    int crossings = 0;
    for (std::size_t i = 1000; i < left.size(); ++i)
        crossings += (left[i - 1] < 0) != (left[i] < 0);
    const double seconds = (left.size() - 1000) / 44100.0;
    EXPECT_NEAR(crossings / 2.0 / seconds, 344.53, 1.0);

    SineVoice quiet; // level 0 still leaves the amplitude alternating around 0
    quiet.stepLoad(0, 0);
    float peak = 0;
    for (int i = 0; i < 2000; ++i) {
        const float v = testing::renderOne(quiet);
        if (i > 1000)
            peak = std::max(peak, std::fabs(v));
    }
    EXPECT_GT(peak, 700.0f);
    EXPECT_LE(peak, 0.05f * 16384.0f * 1.0001f);
}

TEST(StartUp, MakesTheWindowsDrawsInTheOriginalOrder) {
    common::Random window;
    auto engine = std::make_unique<LoopEngine>();
    startUp(*engine, window, 555);
    // bass1 and bass2: 9 coefficients + 16 × (3 note + 1 gate); kick 2; 2nd looper 2; slicer 2 + 2 × 16;
    // sine 1 + 2 × 16 + 3 × 16; the tempo slider's echo roll 1 + 2 unread.
    const int draws = 2 * (9 + 16 * 4) + 2 + 2 + (2 + 32) + (1 + 32 + 48) + 3;
    common::Random expected(555);
    for (int i = 0; i < draws; ++i)
        expected.next();
    EXPECT_EQ(window.state(), expected.state());
    EXPECT_EQ(engine->params.masterGain, 0.875f);
    EXPECT_EQ(engine->params.vcf2Gain, 0.5f);
    EXPECT_EQ(engine->params.vcf1Feedback, 1.5f);
    EXPECT_EQ(engine->params.running, false);
    EXPECT_EQ(engine->audioRandom.state(), 1u);
}

} // namespace
} // namespace vexla
