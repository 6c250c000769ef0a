// The basslines, kick and sine: pitches measured from the output, the kick's re-roll heard from the next
// block.
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/engine/Scene.h"
#include "vexla/engine/tests/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

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

TEST(Sine, NoteZeroSoundsAt344Hz) {
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
}

} // namespace
} // namespace vexla
