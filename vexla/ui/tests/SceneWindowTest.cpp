// The window's scenes, re-roll history, step lamps and level meters, driven from the keyboard and the
// menu; and the window as a screen reader or an automation tool reaches it: check boxes act on their state
// however it changes, the displays whose text changes are read with that text, and the stream starts on
// the device the program was given. The file dialogs and message boxes are faked.
#include "FakeServices.h"

#include "common/tests/Accessible.h"

#include "vexla/engine/Scene.h"
#include "vexla/scene/SceneFile.h"
#include "vexla/ui/SettingsDialog.h"
#include "vexla/ui/StepLamps.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace vexla;
using accessible::Flip;
using accessible::readName;

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

    void recordBoxActsHoweverItIsTicked_data() {
        accessible::addFlipRows();
        QTest::newRow("toggle") << Flip([](QAbstractButton* b) { b->toggle(); });
    }

    void recordBoxActsHoweverItIsTicked() {
        Machine m(1);
        QFETCH(Flip, flip);
        const QString path = dir_.filePath(QStringLiteral("take.wav"));
        m.dialogs.saveAnswer = path;
        flip(m.find<QCheckBox>("recordCheckBox"));
        QVERIFY(m.find<QCheckBox>("recordCheckBox")->isChecked());
        QVERIFY(m.params().recording.load());
        m.params().running.store(true);
        m.render(1000);
        m.window->refreshStatus();
        auto* size = m.find<QLabel>("recordingSizeDisplay");
        QVERIFY(size->text() != QStringLiteral("---"));
        QCOMPARE(readName(size), size->text());

        flip(m.find<QCheckBox>("recordCheckBox"));
        QCOMPARE(readName(size), QStringLiteral("---"));
        QVERIFY(!m.find<QCheckBox>("recordCheckBox")->isChecked());
        QVERIFY(!m.params().recording.load());
        QCOMPARE(m.dialogs.saveDialogs, 1);
        QVERIFY(m.dialogs.errors.isEmpty());
        QCOMPARE(QFileInfo(path).size(), 44 + 4 * 1000); // finished: the header counts every frame
    }

    void cancelledOrFailedRecordingUnticksWithoutAskingAgain_data() {
        accessible::addCancelledOrFailedRecordingRows();
    }

    void cancelledOrFailedRecordingUnticksWithoutAskingAgain() {
        Machine m(1);
        QFETCH(QString, answer);
        QFETCH(int, errors);
        m.dialogs.saveAnswer = answer.isEmpty() ? answer : dir_.filePath(answer);
        QSignalSpy toggles(m.find<QCheckBox>("recordCheckBox"), &QCheckBox::toggled);
        accessible::toggle(m.find<QCheckBox>("recordCheckBox"));
        QVERIFY(!m.find<QCheckBox>("recordCheckBox")->isChecked());
        QVERIFY(!m.params().recording.load());
        QVERIFY(!m.recorder->isRecording());
        // The window's own untick is not taken for the user's: one dialog, at most one error.
        QCOMPARE(m.dialogs.saveDialogs, 1);
        QCOMPARE(m.dialogs.errors.size(), errors);
        if (errors > 0) { // the file and the recorder's reason
            QVERIFY(m.dialogs.errors[0].contains("take.wav"));
            QVERIFY(!m.dialogs.errors[0].section('\n', 1).trimmed().isEmpty());
        }
        QCOMPARE(toggles.size(), 1);
        QCOMPARE(readName(m.find<QLabel>("recordingSizeDisplay")), QStringLiteral("---"));
    }

    void boxUntickedWhileTheDialogIsOpenRecordsNothing() {
        Machine m(1);
        // The file dialog's nested event loop lets automation untick the box before the answer comes.
        struct UntickingDialogs final : DialogProvider {
            QCheckBox* box = nullptr;
            QString path;
            int asked = 0;
            QString openSampleFile(QWidget*) override { return {}; }
            QString saveRecordingFile(QWidget*) override {
                ++asked;
                box->setChecked(false);
                return path;
            }
            bool askYesNo(QWidget*, const QString&, const QString&) override { return false; }
            void showError(QWidget*, const QString&, const QString&) override {}
            int run(QDialog&) override { return QDialog::Accepted; }
        };
        UntickingDialogs dialogs;
        dialogs.path = dir_.filePath(QStringLiteral("late.wav"));
        LoopMachineWindow window(*m.engine, *m.recorder, m.audio, dialogs, 2u);
        dialogs.box = window.findChild<QCheckBox*>(QStringLiteral("recordCheckBox"));
        dialogs.box->setChecked(true);
        QCOMPARE(dialogs.asked, 1);
        QVERIFY(!dialogs.box->isChecked());
        QVERIFY(!m.params().recording.load());
        QVERIFY(!m.recorder->isRecording());
        QVERIFY(!QFileInfo::exists(dialogs.path));
    }

    void runIsToggledAndNamedByItsCaption() {
        Machine m(1);
        auto* run = m.find<QPushButton>("runButton");
        accessible::toggle(run);
        QVERIFY(m.params().running.load());
        QCOMPARE(readName(run), QStringLiteral("Stop"));
        accessible::toggle(run);
        QVERIFY(!m.params().running.load());
        QCOMPARE(readName(run), QStringLiteral("Run"));
    }

    void changingDisplaysAreReadWithTheirText() {
        Machine m(1);
        auto* tempo = m.find<QLabel>("tempoDisplay");
        const QString tempoBefore = tempo->text();
        m.slider("tempoSlider")->setValue(2000);
        QVERIFY(tempo->text() != tempoBefore);
        QCOMPARE(readName(tempo), tempo->text());
        QCOMPARE(accessible::of(tempo)->text(QAccessible::Description),
                 QStringLiteral("Tempo in beats per minute"));
        auto* cpu = m.find<QLabel>("cpuUsageDisplay");
        QTRY_COMPARE_WITH_TIMEOUT(readName(cpu), QStringLiteral("3.14%"), 2000);
        QCOMPARE(accessible::of(cpu)->text(QAccessible::Description), QStringLiteral("Cpu usage"));
    }

    void everyLabelIsReadAsItShows() {
        Machine m(1);
        // A fixed accessible name on a label hides its text from a screen reader; only a picture (the
        // clip lamp) is named instead, and says its state in its description.
        const auto check = [](QWidget* top) {
            for (QLabel* label : top->findChildren<QLabel*>())
                if (label->pixmap().isNull())
                    QCOMPARE(readName(label), label->text().remove(QLatin1Char('&')));
        };
        check(m.window.get());
        SettingsDialog settings(m.window->audioSettings(), m.audio.deviceNames());
        auto* latency = settings.findChild<QSlider*>(QStringLiteral("latencySlider"));
        latency->setValue(latency->maximum());
        check(&settings);
    }

    void streamStartsOnTheGivenDeviceAndSettingsShowIt() {
        Machine m(1);
        LoopMachineWindow window(*m.engine, *m.recorder, m.audio, m.dialogs, 3u);
        window.setDeviceIndex(2);
        window.start();
        QCOMPARE(m.audio.starts.back().deviceIndex, 2);
        int shown = -1;
        m.dialogs.handler = [&shown](QDialog& dialog) {
            if (auto* list = dialog.findChild<QComboBox*>(QStringLiteral("deviceList")))
                shown = list->currentIndex();
            return int(QDialog::Rejected);
        };
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("settingsButton")), Qt::LeftButton);
        QCOMPARE(shown, 2);
    }
};

QTEST_MAIN(SceneWindowTest)
#include "SceneWindowTest.moc"
