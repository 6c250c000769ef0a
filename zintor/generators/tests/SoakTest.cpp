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
    common::test::soak(
        seconds, {32767, 32767}, 0.1, controls,
        [&](std::int16_t* out, int bytes) { engine->renderBlock(out, bytes); },
        [&] { randomChange(*engine, controls); },
        [&] {
            engine->params.masterGain.store(16384.0f);
            engine->params.samplesPerStep.store(5000);
            engine->params.stepCount.store(16);
            for (VoiceControls* voice : {&engine->synthLine1, &engine->synthLine2, &engine->subBass}) {
                voice->volume.store(0.3f);
                voice->cutoff.store(0.5f);
                voice->resonance.store(0.5f);
                voice->filterType.store(0);
            }
        });
}

} // namespace
} // namespace zintor
