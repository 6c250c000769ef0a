// The synthesiser's worst-case block time: 128-frame blocks paced like a sound card for a minute of
// audio (VZ_WORST_BLOCK_SECONDS) while the window moves every control, presses every generator and
// types "Steps" and "BPM" at full speed.
#include "bench/BlockTimer.h"
#include "bench/WindowBench.h"

#include "common/Random.h"
#include "zintor/engine/SynthEngine.h"
#include "zintor/ui/SynthWindow.h"
#include "zintor/ui/tests/FakeSynthAudio.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <benchmark/benchmark.h>
#include <memory>

using namespace zintor;

namespace {

constexpr int kBlockFrames = 128;

void BM_ZintorWorstBlockUnderStress(benchmark::State& state) {
    bench::application();
    auto engine = std::make_unique<SynthEngine>();
    FakeSynthAudio audio;
    FakeMessageBoxes boxes;
    SynthWindow window(*engine, audio, boxes);
    window.show();
    const QList<QSlider*> sliders = window.findChildren<QSlider*>();
    QList<QPushButton*> buttons;
    for (QPushButton* b : window.findChildren<QPushButton*>())
        if (b->objectName() != QStringLiteral("okButton") && b->objectName() != QStringLiteral("exitButton"))
            buttons << b;
    auto* steps = window.findChild<QLineEdit*>(QStringLiteral("stepsEdit"));
    auto* bpm = window.findChild<QLineEdit*>(QStringLiteral("bpmEdit"));
    auto* play = window.findChild<QPushButton*>(QStringLiteral("playButton"));
    play->click();

    common::Random random(2024);
    const auto stress = [&] {
        switch (random.below(5)) {
        case 0:
        case 1:
            bench::moveRandomSlider(sliders, random);
            break;
        case 2:
            buttons[random.below(int(buttons.size()))]->click();
            if (!engine->params.playing.load(std::memory_order_relaxed))
                play->click();
            break;
        case 3:
            steps->setText(QString::number(random.below(300)));
            window.applyStepsText();
            bpm->setText(QString::number(20 + random.below(1100)));
            window.applyTempoText();
            break;
        default:
            window.refreshMeters();
            window.refreshCpuLabel();
            QCoreApplication::processEvents();
            break;
        }
    };
    bench::measureWorstBlock(
        state, kBlockFrames, 32767, [&audio](std::int16_t* out) { audio.render(out, kBlockFrames); }, stress,
        true);
    state.counters["boxes_shown"] = double(boxes.shown.size());
}
BENCHMARK(BM_ZintorWorstBlockUnderStress)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace
