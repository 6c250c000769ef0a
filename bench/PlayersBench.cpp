// Per-frame cost of the loop engine's sample players, ring modulator and echo, 256-frame blocks.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "vexla/engine/EchoUnit.h"
#include "vexla/engine/RingModulator.h"
#include "vexla/engine/SlicerVoice.h"
#include "vexla/engine/StretchLooper.h"
#include "vexla/samples/SampleSlot.h"

namespace {

constexpr int kBlockFrames = 256;
constexpr double kSampleRate = 44100.0;

void fillStereo(vexla::SampleSlot& slot, std::int32_t length) {
    slot.left = std::make_unique<std::int16_t[]>(static_cast<std::size_t>(length));
    slot.right = std::make_unique<std::int16_t[]>(static_cast<std::size_t>(length));
    for (std::int32_t i = 0; i < length; ++i) {
        slot.left[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(10000.0 * std::sin(i * 0.01));
        slot.right[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(10000.0 * std::cos(i * 0.013));
    }
    slot.stereo = true;
    slot.length = length;
}

/// Reports frames per second as a multiple of real time on one core.
void reportRealTime(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * kBlockFrames);
    state.counters["xRealTime"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kBlockFrames / kSampleRate, benchmark::Counter::kIsRate);
}

// The units render runs of kRunFrames, as the engine calls them.
constexpr int kRunFrames = 64;

void BM_FilteredStereoLooper(benchmark::State& state) {
    vexla::SampleSlot slot;
    fillStereo(slot, 441000);
    vexla::StretchLooper looper(slot, true);
    looper.restart(64, 20000);
    looper.setFilter(0.4f, 1.3f);
    float left[kRunFrames], right[kRunFrames];
    for (auto _ : state) {
        for (int run = 0; run < kBlockFrames; run += kRunFrames) {
            looper.render(left, right, kRunFrames, 0.5f);
            benchmark::DoNotOptimize(left);
            benchmark::DoNotOptimize(right);
        }
    }
    reportRealTime(state);
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
    for (auto _ : state) {
        slicer.stepLoad(step++ & 63);
        for (int run = 0; run < kBlockFrames; run += kRunFrames) {
            slicer.render(left, right, kRunFrames, 1.0f);
            benchmark::DoNotOptimize(left);
            benchmark::DoNotOptimize(right);
        }
    }
    reportRealTime(state);
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
    for (auto _ : state) {
        for (int run = 0; run < kBlockFrames; run += kRunFrames) {
            modulator.render(input, out, kRunFrames);
            benchmark::DoNotOptimize(out);
        }
    }
    reportRealTime(state);
}
BENCHMARK(BM_RingModulator);

void BM_Echo(benchmark::State& state) {
    auto echo = std::make_unique<vexla::EchoUnit>(5000);
    float sendLeft[kRunFrames], sendRight[kRunFrames], left[kRunFrames], right[kRunFrames];
    for (int i = 0; i < kRunFrames; ++i) {
        sendLeft[i] = i % 2 ? 1.0f : -1.0f;
        sendRight[i] = -sendLeft[i];
    }
    for (auto _ : state) {
        for (int run = 0; run < kBlockFrames; run += kRunFrames) {
            echo->render(sendLeft, sendRight, left, right, kRunFrames);
            benchmark::DoNotOptimize(left);
            benchmark::DoNotOptimize(right);
        }
    }
    reportRealTime(state);
}
BENCHMARK(BM_Echo);

} // namespace
