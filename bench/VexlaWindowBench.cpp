// What the loop machine's window costs: a slider move, the 500 ms status tick, and how long the render
// has to wait while the window loads samples and starts and stops recordings.
#include "bench/WindowBench.h"
#include "common/Random.h"
#include "vexla/ui/tests/FakeServices.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <thread>
#include <vector>

using namespace vexla;

namespace {

// A 10-second 16-bit stereo WAV of noise-like values.
QString writeSample(const QTemporaryDir& dir) {
    std::vector<int> samples(2 * 441000);
    common::Random random(1);
    for (int& sample : samples)
        sample = random.next() * 2 - 32768;
    const QString path = dir.filePath("noise.wav");
    common::test::writeBytes(QFile::encodeName(path).toStdString(), common::test::wav16(samples));
    return path;
}

void BM_TempoSliderMove(benchmark::State& state) {
    bench::application();
    test::Machine rig;
    auto* tempo = rig.slider("tempoSlider");
    int position = 2000;
    for (auto _ : state) {
        tempo->setValue(position);
        position = position == 2000 ? 20000 : 2000;
    }
}
BENCHMARK(BM_TempoSliderMove);

void BM_StatusTick(benchmark::State& state) {
    bench::application();
    test::Machine rig;
    for (auto _ : state)
        rig.window->refreshStatus();
}
BENCHMARK(BM_StatusTick);

// A render thread plays 1024-frame blocks in real time while the window loads a 10 s sample and starts and
// stops a recording. The longest block shows how long the window kept the render waiting.
void BM_RenderWhileTheWindowWorks(benchmark::State& state) {
    bench::application();
    test::Machine rig;
    QTemporaryDir dir;
    const QString sample = writeSample(dir);
    rig.engine->params.running.store(true);
    auto* loader = rig.find<QPushButton>("dryLooperLoadButton");
    auto* record = rig.find<QCheckBox>("recordCheckBox");
    rig.dialogs.saveAnswer = dir.filePath("take.wav");

    std::atomic<bool> stop{false};
    std::atomic<long long> longestNs{0};
    std::atomic<long long> blocks{0};
    std::thread render([&] {
        std::vector<char> buffer(1024 * 4);
        // Paced like the sound card: one block every 1024 / 44100 s.
        const auto period = std::chrono::microseconds(1024 * 1000000LL / 44100);
        auto deadline = std::chrono::steady_clock::now();
        while (!stop.load()) {
            deadline += period;
            std::this_thread::sleep_until(deadline);
            const auto begin = std::chrono::steady_clock::now();
            rig.engine->renderBlock(buffer.data(), int(buffer.size()));
            const long long ns =
                std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - begin)
                    .count();
            longestNs.store(std::max(longestNs.load(), ns));
            blocks.fetch_add(1);
        }
    });
    // The render alone first: its longest block without the window's help.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long long alone = longestNs.exchange(0);

    for (auto _ : state) {
        rig.dialogs.openAnswers = {sample};
        QTest::mouseClick(loader, Qt::LeftButton);
        QTest::mouseClick(record, Qt::LeftButton); // start
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        QTest::mouseClick(record, Qt::LeftButton); // stop: the file is completed
    }
    stop.store(true);
    render.join();
    state.counters["longest_block_alone_us"] = double(alone) / 1000.0;
    state.counters["longest_block_us"] = double(longestNs.load()) / 1000.0;
    state.counters["block_budget_us"] = 1024.0 * 1e6 / 44100.0;
    state.counters["errors"] = double(rig.dialogs.errors.size());
}
BENCHMARK(BM_RenderWhileTheWindowWorks)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace
