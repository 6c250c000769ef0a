// The costs around scenes and undo: capturing the engine, saving and opening a scene file, a re-roll
// with its undo step, and the render's longest block while it takes a posted scene.
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/engine/ReRollHistory.h"
#include "vexla/engine/Scene.h"
#include "vexla/engine/tests/EngineTestSupport.h"
#include "vexla/scene/SceneFile.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

std::unique_ptr<vexla::LoopEngine> makeEngine(common::Random& window) {
    auto engine = std::make_unique<vexla::LoopEngine>();
    vexla::startUp(*engine, window, 2024);
    vexla::testing::makeEverythingSound(*engine, window);
    return engine;
}

std::string scenePath() {
    // One file per process: benchmarks of two checkouts may run at once.
    return (std::filesystem::temp_directory_path() /
            ("vexla_scene_bench-" + std::to_string(::getpid()) + ".json"))
        .string();
}

void BM_CaptureScene(benchmark::State& state) {
    common::Random window;
    auto engine = makeEngine(window);
    for (auto _ : state)
        benchmark::DoNotOptimize(vexla::captureScene(*engine));
    state.counters["sceneStateBytes"] = sizeof(vexla::SceneState);
}
BENCHMARK(BM_CaptureScene);

void BM_SaveSceneFile(benchmark::State& state) {
    common::Random window;
    auto engine = makeEngine(window);
    const vexla::Scene scene{vexla::captureScene(*engine), {"/music/loop.wav", "", "", "", ""}};
    std::string error;
    for (auto _ : state)
        benchmark::DoNotOptimize(vexla::saveSceneFile(scenePath(), scene, error));
    state.counters["fileBytes"] = static_cast<double>(std::filesystem::file_size(scenePath()));
    std::filesystem::remove(scenePath());
}
BENCHMARK(BM_SaveSceneFile)->Unit(benchmark::kMicrosecond);

void BM_OpenSceneFile(benchmark::State& state) {
    common::Random window;
    auto engine = makeEngine(window);
    std::string error;
    vexla::saveSceneFile(scenePath(), vexla::Scene{vexla::captureScene(*engine), {}}, error);
    vexla::Scene scene;
    for (auto _ : state)
        benchmark::DoNotOptimize(vexla::loadSceneFile(scenePath(), scene, error));
    std::filesystem::remove(scenePath());
}
BENCHMARK(BM_OpenSceneFile)->Unit(benchmark::kMicrosecond);

// A button press with what it keeps for undo, then the undo: what the window thread spends.
void BM_ReRollAndUndo(benchmark::State& state) {
    common::Random window;
    auto engine = makeEngine(window);
    vexla::ReRollHistory history(*engine);
    for (auto _ : state) {
        history.press(window, "Slicer");
        history.undo();
    }
}
BENCHMARK(BM_ReRollAndUndo)->Unit(benchmark::kMicrosecond);

// One 256-frame block that begins a step and takes a whole posted scene there, against one that does not.
void BM_RenderBlockTakingAScene(benchmark::State& state) {
    const bool posting = state.range(0) != 0;
    common::Random window;
    auto engine = makeEngine(window);
    engine->params.samplesPerStep = 2000;
    const vexla::SceneState scenes[2] = {vexla::captureScene(*engine),
                                         vexla::captureScene(*makeEngine(window))};
    std::vector<std::int16_t> buffer(2 * 256);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        while (engine->sampleInStep() != 0) // the block starts a step
            engine->renderBlock(buffer.data(), 4);
        if (posting)
            engine->postScene(scenes[++round % 2], vexla::kSceneEverything);
        state.ResumeTiming();
        engine->renderBlock(buffer.data(), static_cast<int>(buffer.size() * 2));
    }
}
BENCHMARK(BM_RenderBlockTakingAScene)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace
