// The loop engine's renderBlock with every unit sounding, in 256-frame blocks, as a multiple of real time.
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/engine/tests/EngineTestSupport.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

constexpr int kBlockFrames = 256;

void reportRealTime(benchmark::State& state) {
    const double frames = static_cast<double>(state.iterations()) * kBlockFrames;
    state.SetItemsProcessed(static_cast<std::int64_t>(frames));
    state.counters["xRealTime"] = benchmark::Counter(frames / vexla::kSampleRate, benchmark::Counter::kIsRate);
}

// Everything sounding: basslines, kick, hats, sine, four loopers, slicer, ring modulator and echo.
void BM_RenderBlockEverythingSounding(benchmark::State& state) {
    common::Random window;
    auto engine = std::make_unique<vexla::LoopEngine>();
    vexla::startUp(*engine, window, 2024);
    vexla::testing::makeEverythingSound(*engine, window);
    std::vector<std::int16_t> buffer(2 * kBlockFrames);
    for (auto _ : state) {
        engine->renderBlock(buffer.data(), kBlockFrames * 4);
        benchmark::DoNotOptimize(buffer.data());
    }
    reportRealTime(state);
}
BENCHMARK(BM_RenderBlockEverythingSounding);

// The same while every regeneration request is served at each step boundary (short steps).
void BM_RenderBlockServingRequests(benchmark::State& state) {
    common::Random window;
    auto engine = std::make_unique<vexla::LoopEngine>();
    vexla::startUp(*engine, window, 2024);
    vexla::testing::makeEverythingSound(*engine, window);
    engine->params.samplesPerStep = 2000;
    std::vector<std::int16_t> buffer(2 * kBlockFrames);
    for (auto _ : state) {
        engine->params.requestBass1 = true;
        engine->params.requestBass2 = true;
        engine->params.requestSine = true;
        engine->params.requestHats = true;
        engine->params.requestKick = true;
        engine->renderBlock(buffer.data(), kBlockFrames * 4);
        benchmark::DoNotOptimize(buffer.data());
    }
    reportRealTime(state);
}
BENCHMARK(BM_RenderBlockServingRequests);

} // namespace
