// The loop engine's renderBlock with every unit sounding, in 256-frame blocks, as a multiple of real time.
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/engine/tests/EngineTestSupport.h"

#include "bench/UnitRuns.h"

#include <memory>
#include <vector>

namespace {

using bench::kBlockFrames;
using bench::kRunFrames;
using bench::reportRealTime;

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
        state.PauseTiming(); // the window's side of the requests is not the render's cost
        engine->collectChanges();
        for (vexla::Request which : {vexla::Request::Hats, vexla::Request::Sine, vexla::Request::Bass1,
                                     vexla::Request::Bass2, vexla::Request::Kick})
            engine->request(which);
        state.ResumeTiming();
        engine->renderBlock(buffer.data(), kBlockFrames * 4);
        benchmark::DoNotOptimize(buffer.data());
    }
    reportRealTime(state);
}
BENCHMARK(BM_RenderBlockServingRequests);

} // namespace

namespace {

// Per-unit costs, to see where a frame's time goes.

void BM_BassVoices(benchmark::State& state) {
    vexla::BassVoice bass1(vexla::BassKind::Bass1), bass2(vexla::BassKind::Bass2);
    common::Random random(3);
    vexla::BassVoice::generate(bass1.pattern, vexla::BassKind::Bass1, random, 16, 5000);
    vexla::BassVoice::generate(bass2.pattern, vexla::BassKind::Bass2, random, 16, 5000);
    bass1.stepLoad(0, 16, 0);
    bass2.stepLoad(0, 16, 0);
    float out1[kRunFrames], out2[kRunFrames];
    int counter = 1;
    bench::timeRuns(state, [&](int) {
        bass1.render(out1, kRunFrames, 2048.0f, counter, 5000);
        bass2.render(out2, kRunFrames, 1024.0f, counter, 5000);
        counter = counter + kRunFrames > 5000 ? 1 : counter + kRunFrames;
        bench::keep(out1, out2);
    });
}
BENCHMARK(BM_BassVoices);

void BM_KickHatsSine(benchmark::State& state) {
    vexla::KickVoice kick;
    vexla::HatVoice hats;
    vexla::SineVoice sine;
    common::Random random(3);
    vexla::KickVoice::generate(kick.pattern, random);
    kick.pattern.slide1 = 0.0f; // a steady kick: both sines every frame
    vexla::HatVoice::generate(hats.pattern, random, 16);
    vexla::SineVoice::generate(sine.pattern, random, 16);
    kick.trigger();
    hats.stepLoad(1);
    sine.stepLoad(1, 0);
    float kickOut[kRunFrames], hatsOut[kRunFrames], sineOut[kRunFrames];
    bench::timeRuns(state, [&](int) {
        kick.render(kickOut, kRunFrames, 8192.0f);
        hats.render(hatsOut, kRunFrames, random, 1.0f);
        sine.render(sineOut, kRunFrames, 1.0f);
        bench::keep(kickOut, hatsOut, sineOut);
    });
}
BENCHMARK(BM_KickHatsSine);

} // namespace
