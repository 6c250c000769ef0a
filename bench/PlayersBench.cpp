// Per-frame cost of the loop engine's sample players, ring modulator and echo, 256-frame blocks.
#include "bench/UnitRuns.h"

#include <cmath>
#include <memory>

#include "vexla/engine/EchoUnit.h"
#include "vexla/engine/RingModulator.h"
#include "vexla/engine/SlicerVoice.h"
#include "vexla/engine/StretchLooper.h"
#include "vexla/engine/tests/EngineTestSupport.h"

namespace {

using bench::keep;
using bench::kRunFrames;

void fillStereo(vexla::SampleSlot& slot, std::int32_t length) {
    vexla::testing::fillSlotWith(
        slot, length, [](std::int32_t i) { return static_cast<std::int16_t>(10000.0 * std::sin(i * 0.01)); },
        [](std::int32_t i) { return static_cast<std::int16_t>(10000.0 * std::cos(i * 0.013)); });
}

void BM_FilteredStereoLooper(benchmark::State& state) {
    vexla::SampleSlot slot;
    fillStereo(slot, 441000);
    vexla::StretchLooper looper(slot, true);
    looper.restart(64, 20000);
    looper.setFilter(0.4f, 1.3f);
    float left[kRunFrames], right[kRunFrames];
    bench::timeRuns(state, [&](int) {
        looper.render(left, right, kRunFrames, 0.5f);
        keep(left, right);
    });
}
BENCHMARK(BM_FilteredStereoLooper);

void BM_Slicer(benchmark::State& state) {
    vexla::SampleSlot slot;
    fillStereo(slot, 441000);
    vexla::SlicerVoice slicer(slot);
    common::Random random(1);
    vexla::SlicerVoice::generate(slicer.pattern, random, 64);
    float left[kRunFrames], right[kRunFrames];
    int step = 0;
    bench::timeRuns(state, [&](int run) {
        if (run == 0)
            slicer.stepLoad(step++ & 63);
        slicer.render(left, right, kRunFrames, 1.0f);
        keep(left, right);
    });
}
BENCHMARK(BM_Slicer);

void BM_RingModulator(benchmark::State& state) {
    vexla::RingModulator modulator;
    modulator.setting.carrierRate = 0.00004f;
    modulator.setting.sweepRate = 0.000009f;
    modulator.setting.sweepDepth = 0.4f;
    float input[kRunFrames], out[kRunFrames];
    for (float& x : input)
        x = 1000.0f;
    bench::timeRuns(state, [&](int) {
        modulator.render(input, out, kRunFrames);
        keep(out);
    });
}
BENCHMARK(BM_RingModulator);

void BM_Echo(benchmark::State& state) {
    auto echo = std::make_unique<vexla::EchoUnit>(5000);
    float sendLeft[kRunFrames], sendRight[kRunFrames], left[kRunFrames], right[kRunFrames];
    for (int i = 0; i < kRunFrames; ++i) {
        sendLeft[i] = i % 2 ? 1.0f : -1.0f;
        sendRight[i] = -sendLeft[i];
    }
    bench::timeRuns(state, [&](int) {
        echo->render(sendLeft, sendRight, left, right, kRunFrames);
        keep(left, right);
    });
}
BENCHMARK(BM_Echo);

} // namespace
