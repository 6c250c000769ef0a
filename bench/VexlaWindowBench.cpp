// What the loop machine's window costs: a slider move, the 500 ms status tick, and how long the render
// has to wait while the window loads samples and starts and stops recordings.
#include "common/WavRecorder.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/ui/LoopMachineWindow.h"
#include "vexla/ui/tests/FakeServices.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace vexla;

namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "vexla_ui_bench";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

// Everything a window needs, with the dialogs and the audio faked.
struct Rig {
    QStringList events;
    common::WavRecorder recorder;
    std::unique_ptr<LoopEngine> engine = std::make_unique<LoopEngine>();
    test::FakeAudio audio;
    test::FakeDialogs dialogs;
    std::unique_ptr<LoopMachineWindow> window;
    QTemporaryDir dir;

    Rig() {
        application();
        audio.events = &events;
        dialogs.events = &events;
        window = std::make_unique<LoopMachineWindow>(*engine, recorder, audio, dialogs, 1u);
        window->start();
        window->show();
    }
};

// A 10-second 16-bit stereo WAV of noise-like values.
QString writeSample(const QTemporaryDir& dir) {
    constexpr int kFrames = 441000;
    QByteArray bytes(44 + kFrames * 4, '\0');
    auto put32 = [&bytes](int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = char((v >> (8 * i)) & 0xff);
    };
    auto put16 = [&bytes](int at, quint16 v) {
        bytes[at] = char(v & 0xff);
        bytes[at + 1] = char(v >> 8);
    };
    std::memcpy(bytes.data(), "RIFF", 4);
    put32(4, 36 + kFrames * 4);
    std::memcpy(bytes.data() + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, 2);
    put32(24, 44100);
    put32(28, 176400);
    put16(32, 4);
    put16(34, 16);
    std::memcpy(bytes.data() + 36, "data", 4);
    put32(40, kFrames * 4);
    quint32 state = 1;
    for (int i = 44; i < bytes.size(); ++i) {
        state = state * 214013u + 2531011u;
        bytes[i] = char(state >> 16);
    }
    const QString path = dir.filePath("noise.wav");
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return path;
}

void BM_TempoSliderMove(benchmark::State& state) {
    Rig rig;
    auto* tempo = rig.window->findChild<QSlider*>("tempoSlider");
    int position = 2000;
    for (auto _ : state) {
        tempo->setValue(position);
        position = position == 2000 ? 20000 : 2000;
    }
}
BENCHMARK(BM_TempoSliderMove);

void BM_StatusTick(benchmark::State& state) {
    Rig rig;
    for (auto _ : state)
        rig.window->refreshStatus();
}
BENCHMARK(BM_StatusTick);

// A render thread plays 1024-frame blocks in real time while the window loads a 10 s sample and starts and
// stops a recording. The longest block shows how long the window kept the render waiting.
void BM_RenderWhileTheWindowWorks(benchmark::State& state) {
    Rig rig;
    const QString sample = writeSample(rig.dir);
    rig.engine->params.running.store(true);
    auto* loader = rig.window->findChild<QPushButton*>("dryLooperLoadButton");
    auto* record = rig.window->findChild<QCheckBox*>("recordCheckBox");
    rig.dialogs.saveAnswer = rig.dir.filePath("take.wav");

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
