// A long offline run of the loop engine with random control changes every few seconds of audio:
// every sample in the clip range, no state turned to NaN (the output never pins at the clip for good),
// and memory flat. The length in seconds of audio comes from VZ_SOAK_SECONDS (default 600).
#include "common/Random.h"
#include "common/tests/TestWav.h"
#include "vexla/controls/Controls.h"
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/samples/SampleLoader.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace vexla;

namespace {

double soakSeconds() {
    const char* text = std::getenv("VZ_SOAK_SECONDS");
    const double seconds = text ? std::atof(text) : 0.0;
    return seconds > 0 ? seconds : 600.0;
}

/// Resident memory of this process in KiB.
long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A stereo 16-bit WAV of a loud, clipping saw: the worst a looper may be fed.
common::test::Bytes sawWav(int frames) {
    std::vector<int> samples;
    for (int i = 0; i < frames; ++i)
        samples.insert(samples.end(), {static_cast<std::int16_t>((i * 611) & 0xffff),
                                       static_cast<std::int16_t>(32767 - (i * 397) % 65536)});
    return common::test::wav16(samples);
}

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
    const double seconds = soakSeconds();
    const std::filesystem::path sample =
        std::filesystem::temp_directory_path() / ("vz-soak-" + std::to_string(getpid()) + ".wav");
    ASSERT_TRUE(common::test::writeBytes(sample.string(), sawWav(3 * 44100)));

    auto engine = std::make_unique<LoopEngine>();
    common::Random windowRandom;
    startUp(*engine, windowRandom, 1234u);
    engine->params.running.store(true);

    common::Random controls(99);
    std::vector<char> buffer(4096 * 4);
    const long long totalFrames = static_cast<long long>(seconds * 44100);
    constexpr long long kWindowFrames = 10LL * 44100; // pinned output is judged over 10 s of audio
    long long done = 0, nextChange = 0, windowStart = 0, windowsPinned = 0, windows = 0, outOfRange = 0;
    bool windowAllPinned = true;
    long rssAfterWarmUp = 0, rssHighest = 0;
    while (done < totalFrames) {
        if (done >= nextChange) {
            engine->collectChanges(); // as the window's status timer does
            randomChange(*engine, controls, sample.string());
            nextChange = done + 44100 + controls.below(4 * 44100); // every 1 to 5 s
        }
        const int frames = 1 + controls.below(4096);
        engine->renderBlock(buffer.data(), frames * 4);
        const auto* samples = reinterpret_cast<const std::int16_t*>(buffer.data());
        for (int i = 0; i < 2 * frames; ++i) {
            outOfRange += samples[i] > 32766 || samples[i] < -32766;
            windowAllPinned = windowAllPinned && samples[i] == -32766;
        }
        done += frames;
        if (done - windowStart >= kWindowFrames) {
            ++windows;
            windowsPinned += windowAllPinned;
            windowAllPinned = true;
            windowStart = done;
            const long rss = residentKiB();
            if (rssAfterWarmUp == 0 && done >= totalFrames / 4) // every slot has had its samples by then
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
    EXPECT_EQ(windowsPinned, 0) << "the output stuck at the negative clip (a NaN in the state)";
    if (rssAfterWarmUp > 0) {
        EXPECT_LT(rssEnd - rssAfterWarmUp, 4096) << "memory grew during the run";
    }

    // Back at the start positions the machine still plays: no unit is left broken.
    applyStartPositions(engine->params);
    engine->params.running.store(true);
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
    std::filesystem::remove(sample);
}
