// A long offline run of the loop engine with random control changes every few seconds of audio:
// every sample in the clip range, no state turned to NaN (the output never pins at the clip for good),
// and memory flat. The length in seconds of audio comes from VZ_SOAK_SECONDS (default 600).
#include "common/tests/Soak.h"
#include "common/Random.h"
#include "common/tests/TestWav.h"
#include "vexla/controls/Controls.h"
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/samples/SampleLoader.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace vexla;

namespace {

/// One random move of a user, through the values the window's controls can give: a control to a random
/// position (the tempo slider re-rolls the echo; a filter's feedback follows its cutoff, its resonance
/// slider standing still), a button, a sample load.
void randomChange(LoopEngine& engine, common::Random& r, const std::string& samplePath) {
    EngineParams& p = engine.params;
    switch (r.below(4)) {
    case 0:
    case 1: {
        const Control& c = controls()[r.below(int(controls().size()))];
        const Control* partner = findControl(c.partnerName);
        const float partnerValue = partner ? float(partner->access.load(p)) : 0.0f;
        const float before = float(c.access.load(p));
        const float after =
            c.value(c.lowestPosition + r.below(c.highestPosition - c.lowestPosition + 1), partnerValue);
        c.access.store(p, after);
        for (const Control& follower : controls())
            if (follower.partnerName == c.name)
                follower.access.store(
                    p, follower.value(follower.position(float(follower.access.load(p)), before), after));
        if (c.name == "samplesPerStep")
            engine.alterEcho(r);
        break;
    }
    case 2: {
        // The loader as the window runs it: decoded here, swapped in by the render.
        SampleSlot* slots[] = {&engine.drySlot, &engine.secondSlot, &engine.slicerSlot, &engine.vcf1Slot,
                               &engine.vcf2Slot};
        SampleSlot loaded;
        if (loadSampleFile(samplePath.c_str(), loaded))
            engine.swapSample(*slots[r.below(5)], std::move(loaded));
        break;
    }
    default:
        pressButton(engine, r, kEngineButtons[r.below(int(std::size(kEngineButtons)))].caption);
        break;
    }
}

} // namespace

TEST(LoopEngineSoak, RandomControlChangesForLongOutputStaysSaneAndMemoryFlat) {
    const double seconds = common::test::soakSeconds();
    const std::filesystem::path sample =
        std::filesystem::temp_directory_path() / ("vz-soak-" + std::to_string(getpid()) + ".wav");
    // A loud saw at full scale on both channels: the worst a looper may be fed.
    ASSERT_TRUE(common::test::writeSound(
        sample.string(), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 3 * 44100, [](int i, int c) {
            return static_cast<std::int16_t>(c == 0 ? i * 611 : 32767 - i * 397) / 32768.0;
        }));

    auto engine = std::make_unique<LoopEngine>();
    common::Random windowRandom;
    startUp(*engine, windowRandom, 1234u);
    engine->params.running.store(true);

    common::Random controls(99);
    common::test::soak(
        seconds, {32766, 32766}, 0.25, controls, // every slot has had its samples after a quarter
        [&](std::int16_t* out, int bytes) { engine->renderBlock(out, bytes); },
        [&] {
            engine->collectChanges(); // as the window's status timer does
            randomChange(*engine, controls, sample.string());
        },
        [&] {
            applyStartPositions(engine->params);
            engine->params.running.store(true);
        });
    std::filesystem::remove(sample);
}
