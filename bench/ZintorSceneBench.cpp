// Costs of Zintor's scenes, re-roll undo and recording: the render's block while it takes a posted state
// or feeds a recorder, against a plain block; and the window-thread work of capture, save, open and undo.
#include "common/WavRecorder.h"
#include "zintor/generators/ReRollHistory.h"
#include "zintor/generators/StartUp.h"
#include "zintor/scene/SceneFile.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kBlockFrames = 1000;
constexpr auto kRelaxed = std::memory_order_relaxed;

std::unique_ptr<zintor::SynthEngine> playingEngine() {
    auto engine = std::make_unique<zintor::SynthEngine>();
    common::Random random;
    zintor::startUp(*engine, random, 2026);
    engine->params.playing.store(true, kRelaxed);
    return engine;
}

std::string scratchPath(const char* name) {
    return "/tmp/zintor-bench-" + std::to_string(::getpid()) + "-" + name;
}

enum class Extra { None, HandOver, Recorder };

void renderBlocks(benchmark::State& state, Extra extra) {
    auto engine = playingEngine();
    // Short steps, so that nearly every block crosses a boundary and takes the posted state there.
    engine->params.samplesPerStep.store(800, kRelaxed);
    const zintor::SynthState scene = zintor::captureState(*engine);
    common::WavRecorder recorder;
    const std::string path = scratchPath("tap.wav");
    if (extra == Extra::Recorder) {
        recorder.open(path.c_str(), zintor::kSampleRate, 16, 2);
        engine->setRecorder(&recorder);
    }
    std::vector<std::int16_t> buffer(2 * kBlockFrames);
    for (auto _ : state) {
        if (extra == Extra::HandOver)
            engine->postState(scene, zintor::kStateEverything);
        engine->renderBlock(buffer.data(), kBlockFrames * 4);
        benchmark::DoNotOptimize(buffer.data());
    }
    engine->setRecorder(nullptr);
    if (extra == Extra::Recorder) {
        state.counters["dropped"] = static_cast<double>(recorder.framesDropped());
        recorder.finish();
        std::remove(path.c_str());
    }
    state.SetItemsProcessed(state.iterations() * kBlockFrames);
}

void BM_RenderBlockPlain(benchmark::State& state) {
    renderBlocks(state, Extra::None);
}
void BM_RenderBlockTakingAPostedScene(benchmark::State& state) {
    renderBlocks(state, Extra::HandOver);
}
void BM_RenderBlockRecording(benchmark::State& state) {
    renderBlocks(state, Extra::Recorder);
}

void BM_ApplyWholeState(benchmark::State& state) {
    auto engine = playingEngine();
    const zintor::SynthState scene = zintor::captureState(*engine);
    for (auto _ : state) {
        zintor::applyState(*engine, scene, zintor::kStateEverything);
        benchmark::ClobberMemory();
    }
}

void BM_SaveScene(benchmark::State& state) {
    auto engine = playingEngine();
    const std::string path = scratchPath("save.json");
    std::string error;
    for (auto _ : state)
        benchmark::DoNotOptimize(zintor::saveSceneFile(path, zintor::captureLatest(*engine), error));
    std::remove(path.c_str());
}

void BM_OpenScene(benchmark::State& state) {
    auto engine = playingEngine();
    const std::string path = scratchPath("open.json");
    std::string error;
    zintor::saveSceneFile(path, zintor::captureState(*engine), error);
    zintor::SynthState scene;
    for (auto _ : state)
        benchmark::DoNotOptimize(zintor::loadSceneFile(path, scene, error));
    std::remove(path.c_str());
}

void BM_PressAndUndo(benchmark::State& state) {
    auto engine = playingEngine();
    auto history = std::make_unique<zintor::ReRollHistory>(*engine);
    common::Random random(9);
    std::vector<std::int16_t> buffer(2 * 64);
    for (auto _ : state) {
        history->press(zintor::generatorButtons()[0], random);
        history->undo();
        engine->renderBlock(buffer.data(), 64 * 4);
    }
}

BENCHMARK(BM_RenderBlockPlain);
BENCHMARK(BM_RenderBlockTakingAPostedScene);
BENCHMARK(BM_RenderBlockRecording);
BENCHMARK(BM_ApplyWholeState);
BENCHMARK(BM_SaveScene)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenScene)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PressAndUndo)->Unit(benchmark::kMicrosecond);

} // namespace
