// The phrase generators and their undo. Each style keeps to its value sets; undo and redo of the seven
// buttons bring the exact phrases back, at the render's next step boundary, at least 100 re-rolls deep,
// touching nothing but the re-rolled part. How many numbers each generator draws, the sound each sets
// and what it leaves alone are held by the golden renders, where one draw more changes every later phrase.
#include "zintor/generators/PhraseGenerators.h"
#include "zintor/generators/ReRollHistory.h"

#include "zintor/engine/SynthEngine.h"
#include "zintor/generators/StartUp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
#include <set>
#include <vector>

namespace zintor {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

struct Rig {
    std::unique_ptr<SynthEngine> engine = std::make_unique<SynthEngine>();
    common::Random random;
    ReRollHistory history{*engine};
    Rig() { startUp(*engine, random, 2024); }
    /// One block of the render: it takes a posted state (stopped: at once).
    void renderBlock() {
        std::int16_t frames[2 * 64];
        engine->renderBlock(frames, sizeof frames);
    }
    SynthState state() const { return captureState(*engine); }
    /// The three phrases the render plays.
    std::vector<PhraseState> played() const {
        return {engine->voice(kSynthLine1).phrase, engine->voice(kSynthLine2).phrase,
                engine->voice(kSubBass).phrase};
    }
    static std::vector<PhraseState> phrasesOf(const SynthState& s) {
        return {s.synthLine1.phrase, s.synthLine2.phrase, s.subBass.phrase};
    }
};

class EachButton : public ::testing::TestWithParam<int> {};

TEST_P(EachButton, UndoAndRedoRestoreTheExactPhrasesOfItsVoiceOnly) {
    Rig rig;
    const GeneratorButton& button = generatorButtons()[GetParam()];
    const SynthState before = rig.state();
    rig.history.press(button, rig.random);
    const SynthState after = rig.state();
    ASSERT_NE(after, before);
    SynthState onlyPart = before;
    copyStateParts(onlyPart, after, button.part);
    EXPECT_EQ(after, onlyPart) << "the press changed more than its voice";

    rig.renderBlock();
    ASSERT_TRUE(rig.history.undo());
    EXPECT_EQ(rig.played(), Rig::phrasesOf(after)); // handed to the render, not yet taken
    EXPECT_EQ(captureLatest(*rig.engine), before);  // what the window shows at once
    rig.renderBlock();
    EXPECT_EQ(rig.played(), Rig::phrasesOf(before));
    EXPECT_EQ(rig.state(), before); // redo is KeepsTheLast128ReRolls...'s, through every button
}

INSTANTIATE_TEST_SUITE_P(SevenButtons, EachButton, ::testing::Range(0, kGeneratorButtons));

TEST(ReRollHistory, KeepsTheLast128ReRollsAndStepsBackThroughThemInOrder) {
    Rig rig;
    std::vector<SynthState> states{rig.state()};
    for (int i = 0; i < 130; ++i) {
        rig.history.press(generatorButtons()[i % kGeneratorButtons], rig.random);
        states.push_back(rig.state());
    }
    EXPECT_EQ(rig.history.undoCount(), ReRollHistory::kDepth);
    // Several undos before the render runs merge into one hand-over.
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(rig.history.undo());
    rig.renderBlock();
    EXPECT_EQ(rig.state(), states[127]);
    for (int i = 3; i < 128; ++i) {
        ASSERT_TRUE(rig.history.undo());
        rig.renderBlock();
        ASSERT_EQ(rig.state(), states[130 - i - 1]) << "after " << i + 1 << " undos";
    }
    EXPECT_FALSE(rig.history.undo()); // the two oldest fell off the end
    EXPECT_EQ(rig.state(), states[2]);
    for (int i = 0; i < 128; ++i)
        ASSERT_TRUE(rig.history.redo());
    rig.renderBlock();
    EXPECT_EQ(rig.state(), states[130]);
}

TEST(ReRollHistory, APressAfterAnUndoNotYetTakenKeepsItsOwnPhraseAndForgetsRedo) {
    Rig rig;
    const GeneratorButton& goa1 = generatorButtons()[0];
    rig.history.press(goa1, rig.random);
    const SynthState afterFirst = rig.state();
    rig.history.press(goa1, rig.random);
    ASSERT_TRUE(rig.history.undo()); // posted, not yet taken
    rig.history.press(goa1, rig.random);
    const SynthState afterThird = rig.state();
    EXPECT_NE(afterThird, afterFirst);
    rig.renderBlock(); // nothing waiting may overwrite the new phrase
    EXPECT_EQ(rig.state(), afterThird);
    EXPECT_FALSE(rig.history.redo());
    ASSERT_TRUE(rig.history.undo());
    rig.renderBlock();
    EXPECT_EQ(rig.state(), afterFirst);
}

TEST(ReRollHistory, SliderMovesAreNotReRollsAndStayThroughUndo) {
    Rig rig;
    rig.history.press(generatorButtons()[6], rig.random); // the sub bass
    rig.engine->synthLine1.cutoff.store(0.123f, kRelaxed);
    rig.engine->params.masterGain.store(100.0f, kRelaxed);
    ASSERT_TRUE(rig.history.undo());
    rig.renderBlock();
    EXPECT_EQ(rig.engine->synthLine1.cutoff.load(), 0.123f);
    EXPECT_EQ(rig.engine->params.masterGain.load(), 100.0f);
}

std::set<int> notesOf(const VoiceState& v, int from, int to) {
    std::set<int> notes;
    for (int i = from; i < to; ++i)
        notes.insert(v.phrase.notes[i]);
    return notes;
}

TEST(PhraseGenerators, EachStyleKeepsToItsNotesAndEnvelopeRates) {
    struct Style {
        Generator generate;
        std::set<int> notes;
        float lowestRate;
        float highestRate; // inclusive
    };
    const Style styles[] = {
        {generateFlatRiff, {0, -12, 12, 13}, 0.0f, std::nextafter(0.00025f, 0.0f)},
        {generatePsychedelic, {0, -2, 3, 10, 12, 15}, -0.05f, std::nextafter(0.05f, 0.0f)},
        {generateSubBass, {0, -2, 3, 12}, 1.2f, 1.2f},
    };
    for (const Style& style : styles) {
        for (std::uint32_t seed = 1; seed <= 20; ++seed) {
            auto voice = std::make_unique<VoiceState>();
            common::Random random(seed);
            style.generate(*voice, random);
            EXPECT_TRUE(notesOf(*voice, 0, 256) <= style.notes) << "seed " << seed;
            const auto [lowest, highest] =
                std::minmax_element(std::begin(voice->phrase.envRates), std::end(voice->phrase.envRates));
            EXPECT_GE(*lowest, style.lowestRate) << "seed " << seed;
            EXPECT_LE(*highest, style.highestRate) << "seed " << seed;
        }
    }
}

TEST(PhraseGenerators, GoaPairsNotesWithStaccatoAndShiftsOnlyTheFirstSevenSteps) {
    const std::set<int> staccatoNotes{0, -12, 1, 3, 7, 12, 13};
    const std::set<int> heldNotes{0, -12, -2, 3, -14, 1};
    std::set<int> shiftsSeen;
    for (std::uint32_t seed = 1; seed <= 64; ++seed) {
        auto voice = std::make_unique<VoiceState>();
        common::Random random(seed);
        generateGoa(*voice, random);
        for (int i = 7; i < 256; ++i)
            ASSERT_TRUE((voice->phrase.staccato[i] ? staccatoNotes : heldNotes).count(voice->phrase.notes[i]))
                << i;
        // One shift moves all of steps 0..6: the one under which every opening note is a table note.
        std::set<int> fitting;
        for (int shift : {0, 3, -5, -2}) {
            bool fits = true;
            for (int i = 0; i < 7; ++i)
                fits = fits && (voice->phrase.staccato[i] ? staccatoNotes : heldNotes)
                                   .count(voice->phrase.notes[i] - shift);
            if (fits)
                fitting.insert(shift);
        }
        ASSERT_FALSE(fitting.empty()) << "seed " << seed;
        if (fitting.size() == 1)
            shiftsSeen.insert(*fitting.begin());
    }
    EXPECT_EQ(shiftsSeen, (std::set<int>{0, 3, -5, -2}));
}

} // namespace
} // namespace zintor
