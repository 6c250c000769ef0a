// The window's scenes, re-roll history, step lamps and level meters, driven from the keyboard and the
// menu with the file dialogs and message boxes faked.
#include "FakeServices.h"

#include "vexla/engine/Scene.h"
#include "vexla/scene/SceneFile.h"
#include "vexla/ui/StepLamps.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

using namespace vexla;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

/// A window that takes the keyboard: its shortcuts reach only the active window.
struct Machine : test::Machine {
    explicit Machine(std::uint32_t seed) : test::Machine(seed) {
        QApplication::setActiveWindow(window.get());
        if (!QTest::qWaitForWindowActive(window.get()))
            qFatal("the window did not become active");
    }
    void keys(Qt::Key key, Qt::KeyboardModifiers modifiers) { QTest::keyClick(window.get(), key, modifiers); }
};

} // namespace

class SceneWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path(const char* name) const { return dir_.filePath(QString::fromUtf8(name)); }

  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        QVERIFY(test::writeRampWav(path("tone.wav"), 5, 20000));
    }

    void menuHoldsTheSceneAndHistoryEntriesAndCancellingDoesNothing() {
        Machine m(1);
        QCOMPARE(m.window->contextMenuPolicy(), Qt::ActionsContextMenu);
        for (const char* name : {"saveSceneAction", "openSceneAction", "undoAction", "redoAction"})
            QVERIFY2(m.window->actions().contains(m.find<QAction>(name)), name);
        m.keys(Qt::Key_S, Qt::ControlModifier);
        m.keys(Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(m.dialogs.sceneDialogs, 2);
        QVERIFY(m.dialogs.errors.isEmpty());
    }

    void sceneSavedInOneWindowSoundsTheSameInAnother() {
        Machine a(11);
        a.dialogs.openAnswers = {path("tone.wav")};
        a.click("dryLooperLoadButton");
        a.slider("kickSlider")->setValue(100);
        a.slider("masterSlider")->setValue(40);
        a.slider("vcfLooper1CutoffSlider")->setValue(20);
        a.slider("vcfLooper1ResonanceSlider")->setValue(100);
        a.slider("transposeSlider")->setValue(-5);
        a.slider("tempoSlider")->setValue(7000);
        a.slider("dryLooperSlider")->setValue(77);
        a.click("amAlterButton");
        a.click("slicerButton");
        a.find<QLineEdit>("stepsEdit")->setText("12");
        a.click("setStepButton");
        a.dialogs.saveSceneAnswer = path("a.json");
        a.keys(Qt::Key_S, Qt::ControlModifier);
        QVERIFY(a.dialogs.errors.isEmpty());
        QVERIFY(QFile::exists(path("a.json")));
        const SceneState saved = captureScene(*a.engine);

        Machine b(987654);
        QVERIFY(!(captureScene(*b.engine) == saved));
        b.dialogs.openSceneAnswer = path("a.json");
        b.keys(Qt::Key_O, Qt::ControlModifier);
        QVERIFY2(b.dialogs.errors.isEmpty(), qPrintable(b.dialogs.errors.join('\n')));
        b.render(1); // stopped: the next frame takes the scene
        QVERIFY(captureScene(*b.engine) == saved);
        for (const char* name :
             {"kickSlider", "masterSlider", "vcfLooper1CutoffSlider", "vcfLooper1ResonanceSlider",
              "transposeSlider", "tempoSlider", "dryLooperSlider", "vcfLooper2Slider"})
            QVERIFY2(b.slider(name)->value() == a.slider(name)->value(), name);
        QCOMPARE(b.find<QLineEdit>("stepsEdit")->text(), QString("12"));
        QCOMPARE(b.find<QLabel>("tempoDisplay")->text(), a.find<QLabel>("tempoDisplay")->text());
        QCOMPARE(b.find<QLabel>("dryLooperSampleName")->text(), QString("tone.wav"));
        b.engine->settleChanges(); // the render swaps samples in at its next block; none runs here
        QCOMPARE(b.engine->drySlot.length, 20000);

        // Both now sound alike, frame for frame.
        a.engine->params.running = true;
        b.engine->params.running = true;
        std::vector<char> outA(4 * 30000), outB(4 * 30000);
        a.engine->renderBlock(outA.data(), int(outA.size()));
        b.engine->renderBlock(outB.data(), int(outB.size()));
        QVERIFY(outA == outB);
    }

    void refusedSceneSaysWhyAndChangesNothing() {
        Machine m(5);
        QFile other(path("zintor.json"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write(R"({"format":"Zintor scene","version":1})");
        other.close();
        const SceneState before = captureScene(*m.engine);
        const int kick = m.slider("kickSlider")->value();
        m.dialogs.openSceneAnswer = path("zintor.json");
        m.keys(Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(m.dialogs.errors.size(), 1);
        QVERIFY2(m.dialogs.errors[0].contains("not a Vexla scene"), qPrintable(m.dialogs.errors[0]));
        m.render(1);
        QVERIFY(captureScene(*m.engine) == before);
        QCOMPARE(m.slider("kickSlider")->value(), kick);

        m.dialogs.saveSceneAnswer = path("no/such/folder/s.json");
        m.keys(Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(m.dialogs.errors.size(), 2);
        QVERIFY(!QFile::exists(path("no/such/folder/s.json")));
    }

    void missingSampleIsNamedBesideItsEmptySlot() {
        Scene scene{captureScene(*std::make_unique<Machine>(3)->engine), {}};
        scene.samplePaths[0] = QFile::encodeName(path("gone.wav")).toStdString();
        scene.samplePaths[3] = QFile::encodeName(path("tone.wav")).toStdString();
        std::string error;
        QVERIFY(saveSceneFile(QFile::encodeName(path("missing.json")).toStdString(), scene, error));

        Machine m(8);
        m.dialogs.openAnswers = {path("tone.wav")};
        m.click("dryLooperLoadButton");
        m.engine->settleChanges(); // the render swaps samples in at its next block; none runs here
        QCOMPARE(m.engine->drySlot.length, 20000);
        m.dialogs.openSceneAnswer = path("missing.json");
        m.keys(Qt::Key_O, Qt::ControlModifier);
        QVERIFY(m.dialogs.errors.isEmpty());
        QCOMPARE(m.find<QLabel>("dryLooperSampleName")->text(), QString("missing: gone.wav"));
        m.engine->settleChanges();
        QCOMPARE(m.engine->drySlot.length, 0);
        QCOMPARE(m.find<QLabel>("vcfLooper1SampleName")->text(), QString("tone.wav"));
        QCOMPARE(m.engine->vcf1Slot.length, 20000);
        m.render(1);
        QVERIFY(captureScene(*m.engine) == scene.state);
    }

    void reRollsAreUndoneAndRedoneFromTheKeyboard() {
        Machine m(21);
        const SceneState start = captureScene(*m.engine);
        m.click("slicerButton");
        m.click("sequenceButton");
        m.click("kickButton");
        m.render(1); // stopped: requests wait, nothing else happens
        const SceneState rolled = captureLatest(*m.engine);
        QVERIFY(!(rolled.slicer == start.slicer));
        m.engine->params.running = true;
        m.render(2 * 5001);
        const SceneState served = captureScene(*m.engine);
        QVERIFY(!(served.kick == start.kick));
        for (int i = 0; i < 3; ++i)
            m.keys(Qt::Key_Z, Qt::ControlModifier);
        m.render(5001); // the voices come back at the next step boundary
        QVERIFY(captureScene(*m.engine) == start);
        QCOMPARE(m.find<QLineEdit>("stepsEdit")->text(), QString::number(start.controls.stepCount));
        for (int i = 0; i < 3; ++i)
            m.keys(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        m.render(5001);
        QVERIFY(captureScene(*m.engine) == served);
        QCOMPARE(m.find<QLineEdit>("stepsEdit")->text(), QString::number(served.controls.stepCount));
    }

    void stepLampsFollowThePlayingStepAndStandWhenStopped() {
        Machine m(2);
        auto* lamps = m.find<StepLamps>("stepLamps");
        m.engine->params.stepCount = 12;
        m.engine->params.samplesPerStep = 2000;
        m.engine->params.running = true;
        for (int step = 0; step < 30; ++step) {
            m.render(step == 0 ? 1 : 2001); // the first frame of each step
            m.window->refreshPlaying();
            QCOMPARE(lamps->count(), 12);
            QCOMPARE(lamps->lit(), step % 12);
        }
        m.engine->params.running = false;
        m.render(10000);
        m.window->refreshPlaying();
        QCOMPARE(lamps->lit(), 29 % 12);
        QVERIFY(lamps->accessibleDescription().contains("of 12"));
    }

    void metersShowThePublishedPeaks() {
        Machine m(4);
        auto* left = m.find<QProgressBar>("leftLevelMeter");
        auto* right = m.find<QProgressBar>("rightLevelMeter");
        m.window->refreshPlaying();
        QCOMPARE(left->value(), 0);
        m.engine->params.running = true;
        m.render(3000); // the kick's first strike
        m.window->refreshPlaying();
        QVERIFY(left->value() > 1000);
        QCOMPARE(left->value(), m.engine->params.peakLeft.load(kRelaxed));
        QCOMPARE(right->value(), m.engine->params.peakRight.load(kRelaxed));
        QVERIFY(left->geometry().left() > m.slider("masterSlider")->geometry().right());
        m.engine->params.running = false;
        m.render(40000); // the peaks fall back to nothing within a second of silence
        m.window->refreshPlaying();
        QCOMPARE(left->value(), 0);
        QCOMPARE(right->value(), 0);
    }
};

QTEST_MAIN(SceneWindowTest)
#include "SceneWindowTest.moc"
