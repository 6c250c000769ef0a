// The phrase generators: each style's value sets, its exact number of draws, and what it leaves alone.
#include "zintor/generators/PhraseGenerators.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace zintor {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
using Generator = void (*)(SynthVoice&, common::Random&);

std::set<int> noteSet(const SynthVoice& v, int from = 0) {
    std::set<int> notes;
    for (int i = from; i < SynthVoice::kPhraseSteps; ++i)
        notes.insert(v.notes[i].load(kRelaxed));
    return notes;
}

/// The generator's state after `draws` plain draws from `seed`.
std::uint32_t stateAfter(std::uint32_t seed, int draws) {
    common::Random r(seed);
    for (int i = 0; i < draws; ++i)
        r.next();
    return r.state();
}

TEST(PhraseGenerators, EachStyleMakesExactlyItsDrawsSoTheSequenceIsReproducible) {
    struct Case {
        Generator generate;
        int draws;
    };
    const Case cases[] = {{generateGoa, 4 + 3 * 256 + 2},
                          {generateFlatRiff, 4 + 3 * 256},
                          {generatePsychedelic, 4 + 3 * 256},
                          {generateSubBass, 2 * 256}};
    for (const Case& c : cases) {
        auto voice = std::make_unique<SynthVoice>();
        common::Random random(12345);
        c.generate(*voice, random);
        EXPECT_EQ(random.state(), stateAfter(12345, c.draws));
    }
}

TEST(PhraseGenerators, SynthLineStylesDrawCharacterFirstThenRateFlagNotePerStep) {
    auto voice = std::make_unique<SynthVoice>();
    common::Random random(777);
    generateFlatRiff(*voice, random);
    common::Random expected(777);
    EXPECT_FLOAT_EQ(voice->detune.load(), expected.next() / 32768.0f * 0.25f);
    EXPECT_FLOAT_EQ(voice->lfoDepth.load(), expected.next() / 32768.0f * 0.25f);
    EXPECT_FLOAT_EQ(voice->lfoRate.load(), expected.next() / 32768.0f * 0.00005f);
    EXPECT_EQ(voice->square.load(), expected.next() > 16384);
    const int flatRiff[8] = {0, -12, 0, 13, 0, 0, 0, 12};
    for (int i = 0; i < 3; ++i) {
        EXPECT_FLOAT_EQ(voice->envRates[i].load(), expected.next() / 32768.0f * 0.00025f) << i;
        EXPECT_EQ(voice->staccato[i].load(), expected.next() < 24000 ? 1 : 0) << i;
        EXPECT_EQ(voice->notes[i].load(), flatRiff[expected.next() / 4096]) << i;
    }
}

TEST(PhraseGenerators, FlatRiffAndPsychedelicUseOnlyTheirNotesAndRates) {
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        auto voice = std::make_unique<SynthVoice>();
        common::Random random(seed);
        generateFlatRiff(*voice, random);
        EXPECT_TRUE(noteSet(*voice) <= (std::set<int>{0, -12, 12, 13})) << seed;
        for (int i = 0; i < 256; ++i) {
            ASSERT_GE(voice->envRates[i].load(), 0.0f);
            ASSERT_LT(voice->envRates[i].load(), 0.00025f);
        }
        generatePsychedelic(*voice, random);
        EXPECT_TRUE(noteSet(*voice) <= (std::set<int>{0, -2, 3, 10, 12, 15})) << seed;
        for (int i = 0; i < 256; ++i) {
            ASSERT_GE(voice->envRates[i].load(), -0.05f);
            ASSERT_LT(voice->envRates[i].load(), 0.05f);
            ASSERT_LE(voice->staccato[i].load(), 1);
        }
    }
}

TEST(PhraseGenerators, GoaPairsNotesWithStaccatoAndShiftsOnlyTheOpening) {
    const std::set<int> staccatoNotes{0, -12, 1, 3, 7, 12, 13};
    const std::set<int> heldNotes{0, -12, -2, 3, -14, 1};
    std::set<int> shiftsSeen;
    for (std::uint32_t seed = 1; seed <= 64; ++seed) {
        auto voice = std::make_unique<SynthVoice>();
        common::Random random(seed);
        generateGoa(*voice, random);
        // Replay the same draws without the shift to learn each step's unshifted note.
        common::Random replay(seed);
        for (int i = 0; i < 4; ++i)
            replay.next();
        int unshifted[7];
        for (int i = 0; i < 256; ++i) {
            replay.next();
            const int c = replay.next() / 16384;
            const int p = replay.next() / 4096;
            const int held[8] = {0, -12, -2, 0, 3, -14, 1, 0};
            const int stac[8] = {0, -12, 0, 1, 3, 7, 12, 13};
            const int note = c == 0 ? stac[p] : held[p];
            ASSERT_EQ(voice->staccato[i].load(), c == 0 ? 1 : 0);
            if (i < 7)
                unshifted[i] = note;
            else
                ASSERT_EQ(voice->notes[i].load(), note) << "step " << i << " seed " << seed;
            const auto& allowed = c == 0 ? staccatoNotes : heldNotes;
            ASSERT_TRUE(allowed.count(note));
        }
        const int shift = voice->notes[0].load() - unshifted[0];
        for (int i = 0; i < 7; ++i)
            ASSERT_EQ(voice->notes[i].load() - unshifted[i], shift) << "step " << i;
        ASSERT_TRUE(shift == 0 || shift == 3 || shift == -5 || shift == -2) << shift;
        shiftsSeen.insert(shift);
    }
    EXPECT_EQ(shiftsSeen, (std::set<int>{0, 3, -5, -2}));
}

TEST(PhraseGenerators, SubBassSetsItsFixedSoundAndLeavesDetuneAlone) {
    auto voice = std::make_unique<SynthVoice>();
    voice->detune.store(0.123f, kRelaxed);
    voice->square.store(true, kRelaxed);
    voice->osc2Level.store(0.7f, kRelaxed);
    common::Random random(99);
    generateSubBass(*voice, random);
    EXPECT_EQ(voice->detune.load(), 0.123f);
    EXPECT_FALSE(voice->square.load());
    EXPECT_EQ(voice->osc1Level.load(), 1.0f);
    EXPECT_EQ(voice->osc2Level.load(), 0.0f);
    EXPECT_EQ(voice->cutoffNow.load(), 0.02f);
    EXPECT_EQ(voice->cutoff.load(), 1.0f);
    EXPECT_EQ(voice->driveCeiling.load(), 1.0f);
    EXPECT_EQ(voice->delaySend.load(), 0.0f);
    EXPECT_TRUE(noteSet(*voice) <= (std::set<int>{0, -2, 3, 12}));
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(voice->envRates[i].load(), 1.2f);
}

TEST(PhraseGenerators, UnitRandomSpansZeroToJustBelowOne) {
    common::Random random(1);
    float lowest = 1.0f;
    float highest = 0.0f;
    for (int i = 0; i < 200000; ++i) {
        const float u = unitRandom(random);
        lowest = std::min(lowest, u);
        highest = std::max(highest, u);
    }
    EXPECT_EQ(lowest, 0.0f);
    EXPECT_EQ(highest, 32767.0f / 32768.0f);
}

} // namespace
} // namespace zintor
