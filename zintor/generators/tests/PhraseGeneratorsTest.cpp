// The phrase generators: each style's value sets. How many numbers each one draws, the sound each sets
// and what it leaves alone are held by the golden renders, where one draw more changes every later phrase.
#include "zintor/generators/PhraseGenerators.h"

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

} // namespace
} // namespace zintor
