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
    state.counters["xRealTime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kBlockFrames / kSampleRate, benchmark::Counter::kIsRate);
}

void BM_FilteredStereoLooper(benchmark::State& state) {
    vexla::SampleSlot slot;
    fillStereo(slot, 441000);
    vexla::StretchLooper looper(slot, true);
    looper.restart(64, 20000);
    for (auto _ : state) {
        for (int frame = 0; frame < kBlockFrames; ++frame) benchmark::DoNotOptimize(looper.render(0.5f, 0.4f, 1.3f));
    }
    reportRealTime(state);
}
BENCHMARK(BM_FilteredStereoLooper);

void BM_Slicer(benchmark::State& state) {
    vexla::SampleSlot slot;
    fillStereo(slot, 441000);
    vexla::SlicerVoice slicer(slot);
    common::Random random(1);
    slicer.generateSlicer(random, 64);
    int step = 0;
    for (auto _ : state) {
        slicer.stepLoad(step++ & 63);
        for (int frame = 0; frame < kBlockFrames; ++frame) benchmark::DoNotOptimize(slicer.render());
    }
    reportRealTime(state);
}
BENCHMARK(BM_Slicer);

void BM_RingModulator(benchmark::State& state) {
    vexla::RingModulator modulator;
    modulator.carrierRate = 0.00004f;
    modulator.sweepRate = 0.000009f;
    modulator.sweepDepth = 0.4f;
    float x = 1000.0f;
    for (auto _ : state) {
        for (int frame = 0; frame < kBlockFrames; ++frame) benchmark::DoNotOptimize(x = modulator.render(x) + 1000.0f);
    }
    reportRealTime(state);
}
BENCHMARK(BM_RingModulator);

void BM_Echo(benchmark::State& state) {
    auto echo = std::make_unique<vexla::EchoUnit>(5000);
    float send = 1.0f;
    for (auto _ : state) {
        for (int frame = 0; frame < kBlockFrames; ++frame) {
            const vexla::StereoFrame out = echo->process(send, -send);
            benchmark::DoNotOptimize(out);
            send = -send;
        }
    }
    reportRealTime(state);
}
BENCHMARK(BM_Echo);

/// All five players, the ring modulator and the echo together, as the frame calls them.
void BM_AllPlayersAndEffects(benchmark::State& state) {
    vexla::SampleSlot slots[5];
    for (auto& slot : slots) fillStereo(slot, 200000);
    vexla::StretchLooper dry(slots[0]), second(slots[1]), vcf1(slots[3], true), vcf2(slots[4], true);
    vexla::SlicerVoice slicer(slots[2]);
    vexla::RingModulator modulator;
    auto echo = std::make_unique<vexla::EchoUnit>(5000);
    common::Random random(1);
    modulator.alterAm(random);
    slicer.generateSlicer(random, 16);
    for (vexla::StretchLooper* looper : {&second, &dry, &vcf1, &vcf2}) looper->restart(64, 20000);
    int step = 0;
    for (auto _ : state) {
        slicer.stepLoad(step++ & 15);
        for (int frame = 0; frame < kBlockFrames; ++frame) {
            const vexla::StereoFrame d = dry.render(0.5f);
            const vexla::StereoFrame v1 = vcf1.render(0.5f, 0.4f, 1.2f);
            const vexla::StereoFrame v2 = vcf2.render(0.5f, 0.6f, 1.6f);
            const vexla::StereoFrame s = second.render(0.5f);
            const vexla::StereoFrame sl = slicer.render();
            const float m = modulator.render(0.5f * s.left + 0.3f * sl.left);
            const vexla::StereoFrame e = echo->process(0.2f * s.left + m, 0.2f * s.right - m);
            benchmark::DoNotOptimize(d.left + v1.left + v2.right + e.left + e.right);
        }
    }
    reportRealTime(state);
}
BENCHMARK(BM_AllPlayersAndEffects);

} // namespace
