// The synthesiser's start-up as the program runs it: engine, window with its start-up phrases and the
// audio stream (a fake output: the real one is the same service Vexla's start-up measures), until the
// main window's first paint. The application object is built once, before the timing.
#include "bench/StartUpProbe.h"

#include "zintor/engine/SynthEngine.h"
#include "zintor/ui/SynthWindow.h"
#include "zintor/ui/tests/FakeSynthAudio.h"

#include <memory>

namespace {

void BM_ZintorStartUpToFirstPaint(benchmark::State& state) {
    bench::application("zintor_start_up_bench");
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        auto engine = std::make_unique<zintor::SynthEngine>();
        zintor::FakeSynthAudio audio;
        zintor::FakeMessageBoxes boxes;
        zintor::SynthWindow window(*engine, audio, boxes);
        bench::showAndWaitForPaint(window);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    }
}
BENCHMARK(BM_ZintorStartUpToFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace
