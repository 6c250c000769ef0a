// The phrase generators: each style's value sets, its exact number of draws, and what it leaves alone.
#include "zintor/generators/PhraseGenerators.h"

#include "zintor/engine/SynthEngine.h"

#include <gtest/gtest.h>

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

TEST(PhraseGenerators, EachStyleMakesExactlyItsDraws) {
    const std::pair<Generator, int> cases[] = {{generateGoa, 4 + 3 * 256 + 2},
                                               {generateFlatRiff, 4 + 3 * 256},
                                               {generatePsychedelic, 4 + 3 * 256},
                                               {generateSubBass, 2 * 256}};
    for (const auto& [generate, draws] : cases) {
        auto voice = std::make_unique<VoiceState>();
        common::Random random(12345);
        generate(*voice, random);
        common::Random expected(12345);
        for (int i = 0; i < draws; ++i)
            expected.next();
        EXPECT_EQ(random.state(), expected.state()) << draws;
    }
}

TEST(PhraseGenerators, FlatRiffAndPsychedelicKeepToTheirNotesAndRates) {
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        auto voice = std::make_unique<VoiceState>();
        common::Random random(seed);
        generateFlatRiff(*voice, random);
        EXPECT_TRUE(notesOf(*voice, 0, 256) <= (std::set<int>{0, -12, 12, 13}));
        for (int i = 0; i < 256; ++i)
            ASSERT_TRUE(voice->phrase.envRates[i] >= 0.0f && voice->phrase.envRates[i] < 0.00025f);
        generatePsychedelic(*voice, random);
        EXPECT_TRUE(notesOf(*voice, 0, 256) <= (std::set<int>{0, -2, 3, 10, 12, 15}));
        for (int i = 0; i < 256; ++i)
            ASSERT_TRUE(voice->phrase.envRates[i] >= -0.05f && voice->phrase.envRates[i] < 0.05f);
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
    EXPECT_TRUE(notesOf(*voice, 0, 256) <= (std::set<int>{0, -2, 3, 12}));
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(voice->phrase.envRates[i], 1.2f);
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
