// The phrase generators: each style's value sets and what it leaves alone. How many numbers each one
// draws is held by the golden renders, where one draw more changes every later phrase.
#include "zintor/generators/PhraseGenerators.h"

#include "zintor/engine/SynthEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
#include <set>

namespace zintor {
namespace {

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

TEST(PhraseGenerators, SubBassSetsItsFixedSoundAndLeavesDetuneAlone) {
    auto voice = std::make_unique<VoiceState>();
    voice->phrase.detune = 0.123f;
    voice->phrase.square = true;
    voice->sound.filterType = 2;
    common::Random random(99);
    generateSubBass(*voice, random);
    EXPECT_EQ(voice->phrase.detune, 0.123f);
    EXPECT_EQ(voice->sound.filterType, 2);
    EXPECT_FALSE(voice->phrase.square);
    EXPECT_EQ(voice->sound.osc1Level, 1.0f);
    EXPECT_EQ(voice->sound.osc2Level, 0.0f);
}

TEST(RunGenerator, SendsThePhraseToItsVoiceOnlyAndStartsTheSubBassClosed) {
    auto engine = std::make_unique<SynthEngine>();
    const SynthState before = captureState(*engine);
    common::Random random(5);
    runGenerator(*engine, kSynthLine2, generateGoa, random);
    const SynthState after = captureState(*engine);
    EXPECT_EQ(after.synthLine1, before.synthLine1);
    EXPECT_EQ(after.subBass, before.subBass);
    EXPECT_NE(after.synthLine2.phrase, before.synthLine2.phrase);
    EXPECT_EQ(after.synthLine2.sound, before.synthLine2.sound);
    EXPECT_NE(engine->voice(kSynthLine2).phrase, after.synthLine2.phrase); // on its way to the render

    runGenerator(*engine, kSubBass, generateSubBass, random);
    EXPECT_EQ(engine->subBass.cutoff.load(), 1.0f); // the sound at once
    engine->settle();
    EXPECT_EQ(engine->voice(kSynthLine2).phrase, after.synthLine2.phrase);
    EXPECT_EQ(engine->voice(kSubBass).phrase, captureState(*engine).subBass.phrase);
    EXPECT_EQ(engine->voice(kSubBass).state.cutoffNow, kSubBassCutoffStart);
}

} // namespace
} // namespace zintor
