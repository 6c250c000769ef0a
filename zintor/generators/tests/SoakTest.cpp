// A long offline run of the synth with random control changes and phrase generators every few seconds
// of audio: every sample in the 16-bit range, no state turned to NaN (the output never pins at the clip
// for good), and memory flat. The length in seconds of audio comes from VZ_SOAK_SECONDS (default 600).
#include "common/tests/Soak.h"
#include "zintor/controls/Controls.h"
#include "zintor/generators/PhraseGenerators.h"
#include "zintor/generators/ReRollHistory.h"
#include "zintor/generators/StartUp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <span>
#include <vector>

namespace zintor {
namespace {

using common::test::residentKiB;
using common::test::soakSeconds;

/// One random move of a user: a slider anywhere in its range, the two fields, or a generator button.
void randomChange(SynthEngine& e, common::Random& r) {
    const std::span<const Control> sliders = controls();
    switch (r.below(6)) {
    case 0:
    case 1: {
        const Control& c = sliders[r.below(static_cast<int>(sliders.size()))];
        c.access.store(e, c.value(c.lowestPosition + r.below(c.highestPosition - c.lowestPosition + 1)));
        break;
    }
    case 2:
        e.params.samplesPerStep.store(samplesPerStepFromBpm(32 + r.below(992)));
        e.params.stepCount.store(r.below(257));
        break;
    default: {
        const GeneratorButton& button = generatorButtons()[r.below(kGeneratorButtons)];
        pressGenerator(e, button, r);
        break;
    }
    }
}

TEST(SynthSoak, RandomControlChangesForLongOutputStaysSaneAndMemoryFlat) {
    const double seconds = soakSeconds();
    auto engine = std::make_unique<SynthEngine>();
    common::Random windowRandom;
    startUp(*engine, windowRandom, 1234u);
    engine->params.playing.store(true);

    common::Random controls(99);
    std::vector<char> buffer(4096 * 4);
    const long long totalFrames = static_cast<long long>(seconds * 44100);
    constexpr long long kWindowFrames = 10LL * 44100;
    long long done = 0, nextChange = 0, windowStart = 0, windowsPinned = 0, windows = 0, outOfRange = 0;
    bool windowAllPinned = true;
    long rssAfterWarmUp = 0, rssHighest = 0;
    while (done < totalFrames) {
        if (done >= nextChange) {
            randomChange(*engine, controls);
            nextChange = done + 44100 + controls.below(4 * 44100); // every 1 to 5 s
        }
        const int frames = 1 + controls.below(4096);
        engine->renderBlock(buffer.data(), frames * 4);
        const auto* samples = reinterpret_cast<const std::int16_t*>(buffer.data());
        for (int i = 0; i < 2 * frames; ++i) {
            outOfRange += samples[i] < -32767;
            windowAllPinned = windowAllPinned && (samples[i] <= -32767 || samples[i] == 32767);
        }
        done += frames;
        if (done - windowStart >= kWindowFrames) {
            ++windows;
            windowsPinned += windowAllPinned;
            windowAllPinned = true;
            windowStart = done;
            const long rss = residentKiB();
            if (rssAfterWarmUp == 0 && done >= totalFrames / 10)
                rssAfterWarmUp = rss;
            rssHighest = std::max(rssHighest, rss);
        }
    }
    const long rssEnd = residentKiB();
    std::printf(
        "soak: %.0f s of audio, %lld windows of 10 s, resident %ld KiB after warm-up, %ld KiB highest, "
        "%ld KiB at the end\n",
        seconds, windows, rssAfterWarmUp, rssHighest, rssEnd);
    EXPECT_EQ(outOfRange, 0);
    EXPECT_EQ(windowsPinned, 0) << "the output stuck at the clip (a NaN in the state)";
    if (rssAfterWarmUp > 0) {
        EXPECT_LT(rssEnd - rssAfterWarmUp, 4096) << "memory grew during the run";
    }

    // At plain settings the synth still plays: no voice is left broken.
    engine->params.masterGain.store(16384.0f);
    engine->params.samplesPerStep.store(5000);
    engine->params.stepCount.store(16);
    for (VoiceControls* voice : {&engine->synthLine1, &engine->synthLine2, &engine->subBass}) {
        voice->volume.store(0.3f);
        voice->cutoff.store(0.5f);
        voice->resonance.store(0.5f);
        voice->filterType.store(0);
    }
    int lowest = 32767, highest = -32768;
    for (int block = 0; block < 5 * 44100 / 1024; ++block) {
        engine->renderBlock(buffer.data(), 4096);
        const auto* samples = reinterpret_cast<const std::int16_t*>(buffer.data());
        for (int i = 0; i < 2048; ++i) {
            lowest = std::min<int>(lowest, samples[i]);
            highest = std::max<int>(highest, samples[i]);
        }
    }
    EXPECT_GT(highest - lowest, 1000) << "silent or stuck after the soak";
}

} // namespace
} // namespace zintor
