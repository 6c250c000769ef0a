// The synthesiser under the worst a user can do: a render thread plays continuously while the window
// thread, at full speed, moves every slider, presses every generator and button and types random
// "Steps" and "BPM" texts. Bounded in time (VZ_STRESS_SECONDS, default 3).
#include "zintor/engine/SynthEngine.h"
#include "zintor/ui/SynthWindow.h"
#include "zintor/ui/tests/WindowRig.h"

#include "common/Random.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace zintor;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

double stressSeconds() {
    bool ok = false;
    const double seconds = qEnvironmentVariable("VZ_STRESS_SECONDS").toDouble(&ok);
    return ok && seconds > 0 ? seconds : 3.0;
}

// Texts a user might type: in range, out of range, empty, signs, junk, huge.
QString randomText(common::Random& random) {
    static const QStringList kTexts = {"16",   "256", "257", "0",   "",
                                       "-1",   "1",   "31",  "32",  "1023",
                                       "1024", "140", "abc", "12x", "99999999999999"};
    return kTexts[random.below(int(kTexts.size()))];
}

} // namespace

class SynthStressTest : public QObject {
    Q_OBJECT

  private slots:
    void everyControlAtFullSpeedWhileTheRenderPlays() {
        WindowRig rig;
        auto& engine = rig.engine;
        auto& window = rig.window;
        const QList<QSlider*> sliders = window->findChildren<QSlider*>();
        QList<QPushButton*> buttons; // every button but the two that close the window
        for (QPushButton* button : window->findChildren<QPushButton*>())
            if (button->objectName() != "okButton" && button->objectName() != "exitButton")
                buttons << button;
        auto* steps = rig.child<QLineEdit>("stepsEdit");
        auto* bpm = rig.child<QLineEdit>("bpmEdit");
        auto* play = rig.child<QPushButton>("playButton");
        QVERIFY(sliders.size() >= 20 && buttons.size() >= 8);
        play->click();

        std::atomic<bool> stop{false};
        std::atomic<long long> frames{0}, outOfRange{0}, stepOutOfRange{0}, nonZero{0};
        std::thread render([&] {
            common::Random lengths(7);
            std::vector<char> buffer(4096 * 4 + 4);
            while (!stop.load(kRelaxed)) {
                // Blocks from no frame up to 4096 frames, the shortest ones often.
                const int lengthBytes =
                    lengths.below(8) == 0 ? lengths.below(9) : 1 + lengths.below(4096 * 4);
                rig.audio.render(reinterpret_cast<std::int16_t*>(buffer.data()), lengthBytes / 4);
                const auto* samples = reinterpret_cast<const std::int16_t*>(buffer.data());
                for (int i = 0; i < 2 * (lengthBytes / 4); ++i) {
                    if (samples[i] < -32767)
                        outOfRange.fetch_add(1, kRelaxed);
                    if (samples[i] != 0)
                        nonZero.fetch_add(1, kRelaxed);
                }
                if (engine->currentStep() < 0 || engine->currentStep() > 255)
                    stepOutOfRange.fetch_add(1, kRelaxed);
                frames.fetch_add(lengthBytes / 4, kRelaxed);
            }
        });

        common::Random random(54321);
        int actions = 0;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(stressSeconds());
        while (std::chrono::steady_clock::now() < deadline) {
            ++actions;
            switch (random.below(6)) {
            case 0:
            case 1: {
                QSlider* slider = sliders[random.below(int(sliders.size()))];
                slider->setValue(slider->minimum() + random.below(slider->maximum() - slider->minimum() + 1));
                break;
            }
            case 2:
                buttons[random.below(int(buttons.size()))]->click();
                break;
            case 3:
                steps->setText(randomText(random));
                window->applyStepsText();
                break;
            case 4:
                bpm->setText(randomText(random));
                window->applyTempoText();
                break;
            default:
                window->refreshMeters();
                window->refreshCpuLabel();
                QCoreApplication::processEvents();
                if (!engine->params.playing.load(kRelaxed))
                    play->click();
                break;
            }
        }
        stop.store(true);
        render.join();
        qInfo("%d window actions, %lld frames rendered", actions, frames.load());

        QCOMPARE(outOfRange.load(), 0LL);
        QCOMPARE(stepOutOfRange.load(), 0LL);
        QVERIFY(nonZero.load() > 0);
        QVERIFY(actions > 100);
        QVERIFY(window->isVisible());
    }
};

QTEST_MAIN(SynthStressTest)
#include "StressTest.moc"
