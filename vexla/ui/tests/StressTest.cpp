// The loop machine under the worst a user can do: a render thread plays continuously while the window
// thread, at full speed, moves every slider, presses every button, loads and replaces samples in every
// slot and starts and stops recordings. Bounded in time (VZ_STRESS_SECONDS, default 3).
#include "FakeServices.h"

#include "common/Random.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

using namespace vexla;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

double stressSeconds() {
    bool ok = false;
    const double seconds = qEnvironmentVariable("VZ_STRESS_SECONDS").toDouble(&ok);
    return ok && seconds > 0 ? seconds : 3.0;
}

/// What the render thread saw; written by it, read after it has been joined.
struct RenderWatch {
    std::atomic<bool> stop{false};
    std::atomic<long long> frames{0};
    std::atomic<long long> outOfClipRange{0};
    std::atomic<long long> stepOutOfRange{0};
    std::atomic<long long> nonZeroFrames{0};
};

/// The audio thread: blocks of every length from under one frame to 2048 frames, back to back.
void renderUntilStopped(LoopEngine& engine, RenderWatch& watch) {
    common::Random lengths(7);
    std::vector<char> buffer(2048 * 4 + 4);
    while (!watch.stop.load(kRelaxed)) {
        const int lengthBytes = lengths.below(8) == 0 ? lengths.below(8) : 4 * (1 + lengths.below(2048));
        engine.renderBlock(buffer.data(), lengthBytes);
        const auto* samples = reinterpret_cast<const std::int16_t*>(buffer.data());
        const int frames = lengthBytes / 4;
        for (int i = 0; i < 2 * frames; ++i) {
            if (samples[i] > 32766 || samples[i] < -32766)
                watch.outOfClipRange.fetch_add(1, kRelaxed);
            if (samples[i] != 0)
                watch.nonZeroFrames.fetch_add(1, kRelaxed);
        }
        if (engine.currentStep() < 0 || engine.currentStep() >= 64 || engine.sampleInStep() < 0)
            watch.stepOutOfRange.fetch_add(1, kRelaxed);
        watch.frames.fetch_add(frames, kRelaxed);
    }
}

} // namespace

class LoopMachineStressTest : public QObject {
    Q_OBJECT

  private slots:
    void everyControlAtFullSpeedWhileTheRenderPlays() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // Stereo, mono and three-frame samples, one that is not a sound file, and one that is missing.
        QStringList samples;
        for (const auto& [name, values, channels] :
             {std::tuple{"stereo.wav", 60000, 2}, std::tuple{"mono.wav", 90000, 1},
              std::tuple{"short.wav", 6, 2}}) {
            samples << dir.filePath(QString::fromUtf8(name));
            std::vector<int> ramp(static_cast<std::size_t>(values));
            for (int i = 0; i < values; ++i)
                ramp[std::size_t(i)] = qint16(i * 611);
            QVERIFY(common::test::writeBytes(QFile::encodeName(samples.back()).toStdString(),
                                             common::test::wav16(ramp, channels)));
        }
        samples << dir.filePath(QStringLiteral("notes.wav")) << dir.filePath(QStringLiteral("missing.wav"))
                << QString();
        QVERIFY(common::test::writeBytes(QFile::encodeName(samples[3]).toStdString(),
                                         {'n', 'o', 't', ' ', 'a', ' ', 's', 'o', 'u', 'n', 'd'}));

        test::Machine m;
        auto& window = m.window;
        auto& engine = m.engine;
        test::FakeDialogs& dialogs = m.dialogs;
        const QList<QSlider*> sliders = window->findChildren<QSlider*>();
        const QList<QAbstractButton*> buttons = window->findChildren<QAbstractButton*>();
        auto* record = window->findChild<QCheckBox*>(QStringLiteral("recordCheckBox"));
        auto* steps = window->findChild<QLineEdit*>(QStringLiteral("stepsEdit"));
        auto* setStep = window->findChild<QAbstractButton*>(QStringLiteral("setStepButton"));
        auto* run = window->findChild<QAbstractButton*>(QStringLiteral("runButton"));
        QStringList loaders;
        for (QAbstractButton* button : buttons)
            if (button->objectName().endsWith(QStringLiteral("LoadButton")))
                loaders << button->objectName();
        QTest::mouseClick(run, Qt::LeftButton);
        QVERIFY(engine->params.running.load(kRelaxed));

        RenderWatch watch;
        std::thread render([&] { renderUntilStopped(*engine, watch); });

        common::Random random(12345);
        const QStringList stepTexts = {"3", "64", "65", "0", "", "-5", "999999999999", "16", "2", "1e3"};
        QStringList recordings;
        int actions = 0;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(stressSeconds());
        while (std::chrono::steady_clock::now() < deadline) {
            ++actions;
            switch (random.below(8)) {
            case 0:
            case 1: {
                QSlider* slider = sliders[random.below(int(sliders.size()))];
                slider->setValue(slider->minimum() + random.below(slider->maximum() - slider->minimum() + 1));
                break;
            }
            case 2: {
                // Every button, the record box and the run button included; the fake dialogs answer at once
                // (the quit question with No).
                QAbstractButton* button = buttons[random.below(int(buttons.size()))];
                if (button == record)
                    break;
                dialogs.openAnswers = {samples[random.below(int(samples.size()))]};
                button->click();
                break;
            }
            case 3:
                steps->setText(stepTexts[random.below(10)]);
                setStep->click();
                break;
            case 4:
                dialogs.openAnswers = {samples[random.below(int(samples.size()))]};
                window->findChild<QAbstractButton*>(loaders[random.below(int(loaders.size()))])->click();
                break;
            case 5:
                if (!record->isChecked()) {
                    dialogs.saveAnswer = dir.filePath(QStringLiteral("take%1.wav").arg(recordings.size()));
                    recordings << dialogs.saveAnswer;
                }
                record->click();
                break;
            case 6:
                if (random.below(2) == 0)
                    window->undoReRoll();
                else
                    window->redoReRoll();
                break;
            default:
                window->refreshLamp();
                window->refreshStatus();
                window->refreshPlaying();
                QCoreApplication::processEvents();
                // Keep the machine playing most of the time: a stopped engine renders silence.
                if (!engine->params.running.load(kRelaxed) && random.below(2) == 0)
                    run->click();
                break;
            }
        }
        if (record->isChecked())
            record->click();
        watch.stop.store(true);
        render.join();
        qInfo("%d window actions, %lld frames rendered, %d recordings", actions, watch.frames.load(),
              int(recordings.size()));

        QCOMPARE(watch.outOfClipRange.load(), 0LL);
        QCOMPARE(watch.stepOutOfRange.load(), 0LL);
        QVERIFY(watch.nonZeroFrames.load() > 0);
        QVERIFY(actions > 100);
        QVERIFY(!recordings.isEmpty());
        QVERIFY(!m.recorder->isRecording());

        // Every recording is a whole WAV: both sizes agree with the file's length, in whole frames.
        for (const QString& path : recordings) {
            const qint64 data = test::wholeWavDataBytes(path);
            QVERIFY2(data >= 0 && data % 4 == 0, qPrintable(path));
        }
        // The last take's file holds exactly the frames the recorder says it wrote.
        QFile last(recordings.last());
        QCOMPARE(quint64(last.size() - 44), m.recorder->framesWritten() * 4);
        QVERIFY(window->isVisible());
    }
};

QTEST_MAIN(LoopMachineStressTest)
#include "StressTest.moc"
