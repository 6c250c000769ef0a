// The loop machine's worst-case block time: 128-frame blocks paced like a sound card for a minute of
// audio (VZ_WORST_BLOCK_SECONDS) while the window moves every control at full speed, loads a sample
// into the slots every few seconds and starts and stops recordings. The argument is the sample's size
// in MB: 100 for the worst case, 1 (about 6 s of stereo) for samples of an ordinary length.
// A stretched 100 MB sample is read at a stride of hundreds of frames, a new cache line per frame and
// channel, so the two together tell the cost of that memory traffic from the rest.
#include "bench/BlockTimer.h"

#include "bench/WindowBench.h"
#include "common/Random.h"
#include "vexla/ui/tests/FakeServices.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>

using namespace vexla;

namespace {

constexpr int kBlockFrames = 128;

// A 16-bit stereo WAV of `bytes` data bytes of noise, written in pieces.
QString writeBigSample(const QTemporaryDir& dir, qint64 dataBytes) {
    const QString path = dir.filePath(QStringLiteral("big.wav"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    QByteArray header(44, '\0');
    const auto put32 = [&header](int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            header[at + i] = char((v >> (8 * i)) & 0xff);
    };
    std::memcpy(header.data(), "RIFF", 4);
    put32(4, quint32(36 + dataBytes));
    std::memcpy(header.data() + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put32(20, 1 | (2u << 16));
    put32(24, 44100);
    put32(28, 176400);
    put32(32, 4 | (16u << 16));
    std::memcpy(header.data() + 36, "data", 4);
    put32(40, quint32(dataBytes));
    file.write(header);
    QByteArray piece(1 << 20, '\0');
    quint32 state = 1;
    for (qint64 written = 0; written < dataBytes; written += piece.size()) {
        for (char& c : piece) {
            state = state * 214013u + 2531011u;
            c = char(state >> 16);
        }
        file.write(piece.constData(), qMin<qint64>(piece.size(), dataBytes - written));
    }
    return path;
}

void BM_VexlaWorstBlockUnderStress(benchmark::State& state) {
    bench::application();
    QTemporaryDir dir;
    const QString bigSample = writeBigSample(dir, state.range(0) * 1000LL * 1000);
    test::Machine machine;
    LoopMachineWindow& window = *machine.window;
    auto& engine = machine.engine;
    test::FakeDialogs& dialogs = machine.dialogs;
    const QList<QSlider*> sliders = window.findChildren<QSlider*>();
    QList<QAbstractButton*> buttons;
    QList<QAbstractButton*> loaders;
    for (QAbstractButton* b : window.findChildren<QAbstractButton*>()) {
        if (b->objectName().endsWith(QStringLiteral("LoadButton")))
            loaders << b;
        else if (b->objectName() != QStringLiteral("recordCheckBox"))
            buttons << b;
    }
    auto* record = window.findChild<QCheckBox*>(QStringLiteral("recordCheckBox"));
    auto* steps = window.findChild<QLineEdit*>(QStringLiteral("stepsEdit"));
    auto* setStep = window.findChild<QAbstractButton*>(QStringLiteral("setStepButton"));
    engine->params.running.store(true);

    common::Random random(2024);
    int loads = 0, recordings = 0;
    auto lastLoad = std::chrono::steady_clock::now();
    const auto stress = [&] {
        // A load every few seconds: each frees the slot's previous sample.
        if (std::chrono::steady_clock::now() - lastLoad > std::chrono::seconds(4)) {
            dialogs.openAnswers = {bigSample};
            const bench::FileWork fileWork;
            loaders[random.below(int(loaders.size()))]->click();
            lastLoad = std::chrono::steady_clock::now();
            ++loads;
            return;
        }
        switch (random.below(6)) {
        case 0:
        case 1:
            bench::moveRandomSlider(sliders, random);
            break;
        case 2:
            buttons[random.below(int(buttons.size()))]->click();
            if (!engine->params.running.load(std::memory_order_relaxed))
                window.findChild<QAbstractButton*>(QStringLiteral("runButton"))->click();
            break;
        case 3:
            steps->setText(QString::number(random.below(70)));
            setStep->click();
            break;
        case 4:
            if (random.below(200) == 0) {
                if (!record->isChecked()) {
                    dialogs.saveAnswer = dir.filePath(QStringLiteral("take.wav"));
                    ++recordings;
                }
                const bench::FileWork fileWork;
                record->click();
            }
            break;
        default:
            window.refreshLamp();
            window.refreshPlaying();
            QCoreApplication::processEvents();
            break;
        }
    };
    bench::measureWorstBlock(
        state, kBlockFrames, 32766,
        [&engine](std::int16_t* out) { engine->renderBlock(out, kBlockFrames * 4); }, stress,
        state.range(0) >= 100);
    if (record->isChecked())
        record->click();
    state.counters["sample_loads"] = loads;
    state.counters["recordings"] = recordings;
}
BENCHMARK(BM_VexlaWorstBlockUnderStress)->Arg(100)->Arg(1)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace
