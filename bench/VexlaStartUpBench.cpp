// The loop machine's start-up as the program runs it: engine, recorder, window with its start-up
// generators, the start dialog closed at once, the audio output started (silent output), until the
// main window's first paint. The application object is built once, before the timing.
#include "bench/StartUpProbe.h"

#include "audio/AudioBackend.h"
#include "audio/AudioOutput.h"
#include "common/WavRecorder.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/ui/LoopMachineWindow.h"
#include "vexla/ui/tests/FakeServices.h"

#include <ctime>
#include <memory>

namespace {

void BM_VexlaStartUpToFirstPaint(benchmark::State& state) {
    bench::application("vexla_start_up_bench");
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        common::WavRecorder recorder;
        auto engine = std::make_unique<vexla::LoopEngine>();
        audio::AudioOutput audio(audio::makeNullBackend(), std::chrono::milliseconds(2000));
        QStringList events;
        vexla::test::FakeDialogs dialogs; // the start dialog closes at once
        dialogs.events = &events;
        vexla::LoopMachineWindow window(*engine, recorder, audio, dialogs,
                                        static_cast<std::uint32_t>(std::time(nullptr)));
        window.start();
        bench::showAndWaitForPaint(window);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
        audio.stop();
    }
}
BENCHMARK(BM_VexlaStartUpToFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace
