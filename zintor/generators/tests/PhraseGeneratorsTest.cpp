// The phrase generators: each style's value sets, its exact number of draws, and what it leaves alone.
#include "zintor/generators/PhraseGenerators.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace zintor {
namespace {

using Generator = void (*)(SynthVoice&, common::Random&);

std::set<int> notesOf(const SynthVoice& v, int from, int to) {
    std::set<int> notes;
    for (int i = from; i < to; ++i)
        notes.insert(v.notes[i].load());
    return notes;
}

TEST(PhraseGenerators, EachStyleMakesExactlyItsDraws) {
    const std::pair<Generator, int> cases[] = {{generateGoa, 4 + 3 * 256 + 2},
                                               {generateFlatRiff, 4 + 3 * 256},
                                               {generatePsychedelic, 4 + 3 * 256},
                                               {generateSubBass, 2 * 256}};
    for (const auto& [generate, draws] : cases) {
        auto voice = std::make_unique<SynthVoice>();
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
        auto voice = std::make_unique<SynthVoice>();
        common::Random random(seed);
        generateFlatRiff(*voice, random);
        EXPECT_TRUE(notesOf(*voice, 0, 256) <= (std::set<int>{0, -12, 12, 13}));
        for (int i = 0; i < 256; ++i)
            ASSERT_TRUE(voice->envRates[i].load() >= 0.0f && voice->envRates[i].load() < 0.00025f);
        generatePsychedelic(*voice, random);
        EXPECT_TRUE(notesOf(*voice, 0, 256) <= (std::set<int>{0, -2, 3, 10, 12, 15}));
        for (int i = 0; i < 256; ++i)
            ASSERT_TRUE(voice->envRates[i].load() >= -0.05f && voice->envRates[i].load() < 0.05f);
    }
}

TEST(PhraseGenerators, GoaPairsNotesWithStaccatoAndShiftsOnlyTheFirstSevenSteps) {
    const std::set<int> staccatoNotes{0, -12, 1, 3, 7, 12, 13};
    const std::set<int> heldNotes{0, -12, -2, 3, -14, 1};
    std::set<int> shiftsSeen;
    for (std::uint32_t seed = 1; seed <= 64; ++seed) {
        auto voice = std::make_unique<SynthVoice>();
        common::Random random(seed);
        generateGoa(*voice, random);
        for (int i = 7; i < 256; ++i)
            ASSERT_TRUE((voice->staccato[i].load() ? staccatoNotes : heldNotes).count(voice->notes[i].load()))
                << i;
        // One shift moves all of steps 0..6: the one under which every opening note is a table note.
        std::set<int> fitting;
        for (int shift : {0, 3, -5, -2}) {
            bool fits = true;
            for (int i = 0; i < 7; ++i)
                fits = fits && (voice->staccato[i].load() ? staccatoNotes : heldNotes)
                                   .count(voice->notes[i].load() - shift);
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
    auto voice = std::make_unique<SynthVoice>();
    voice->detune.store(0.123f);
    voice->square.store(true);
    common::Random random(99);
    generateSubBass(*voice, random);
    EXPECT_EQ(voice->detune.load(), 0.123f);
    EXPECT_FALSE(voice->square.load());
    EXPECT_EQ(voice->osc2Level.load(), 0.0f);
    EXPECT_EQ(voice->cutoffNow.load(), 0.02f);
    EXPECT_TRUE(notesOf(*voice, 0, 256) <= (std::set<int>{0, -2, 3, 12}));
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(voice->envRates[i].load(), 1.2f);
}

} // namespace
} // namespace zintor
