// The synth window's scenes, re-roll undo, recording and step lamps, driven as a user would through the
// menu's shortcuts and the check box, with file dialogs and message boxes answered by fakes.
#include "zintor/ui/SynthWindow.h"

#include <nlohmann/json.hpp>

#include "common/tests/TestWav.h"

#include "zintor/engine/SynthEngine.h"
#include "zintor/generators/ReRollHistory.h"
#include "zintor/scene/SceneFile.h"
#include "zintor/ui/StepLamps.h"
#include "zintor/ui/tests/WindowRig.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

using namespace zintor;
using common::test::le32;

namespace {

using Rig = WindowRig;

common::test::Bytes fileBytes(const QString& path) {
    return common::test::readBytes(QFile::encodeName(path).toStdString());
}

/// A state unlike the start-up one in controls and phrases, with values that sit on slider positions.
SynthState sceneUnlike(const SynthState& start) {
    SynthState s = start;
    s.controls.stepCount = 33;
    s.controls.samplesPerStep = 661500 / 140;
    s.controls.masterGain = 20000.0f;
    s.controls.shuffleAmount = 64;
    s.controls.kick.volume = 0.5f;
    s.synthLine1.sound.cutoff = 0.25f;
    s.synthLine2.sound.osc1Level = 1.0f;
    s.synthLine2.sound.osc2Level = 0.5f; // Osc Mix 64
    for (auto& note : s.synthLine1.phrase.notes)
        note = 5;
    return s;
}

} // namespace

class SceneRecordingTest : public QObject {
    Q_OBJECT
  private slots:
    void menuEntries();
    void saveSceneWritesWhatTheRenderWillPlay();
    void openSceneLandsAtTheNextBlockAndMovesTheControls();
    void badScenesAreRefusedAndChangeNothing();
    void undoAndRedoOfGeneratorButtons();
    void recordingShowsItsSizeAndIsFinishedAtExit();
    void lampsFollowThePublishedStep();
};

void SceneRecordingTest::menuEntries() {
    Rig rig;
    // In the right-click menu; the other tests reach them through their shortcuts.
    QCOMPARE(rig.window->contextMenuPolicy(), Qt::ActionsContextMenu);
    for (const char* name : {"saveSceneAction", "openSceneAction", "undoAction", "redoAction"})
        QVERIFY(rig.window->actions().contains(rig.child<QAction>(name)));
    // Cancelled dialogs do nothing.
    rig.keys(Qt::Key_S, Qt::ControlModifier);
    rig.keys(Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(rig.boxes.asked, (QStringList{"Save scene", "Open scene"}));
    QVERIFY(rig.boxes.shown.isEmpty());
}

void SceneRecordingTest::saveSceneWritesWhatTheRenderWillPlay() {
    Rig rig;
    // An opened scene not yet taken by the render is what a save holds.
    const SynthState pending = sceneUnlike(rig.state());
    std::string error;
    QVERIFY(saveSceneFile(QFile::encodeName(rig.file("in.json")).toStdString(), pending, error));
    rig.boxes.openPath = rig.file("in.json");
    rig.keys(Qt::Key_O, Qt::ControlModifier);
    rig.boxes.savePath = rig.file("out.json");
    rig.keys(Qt::Key_S, Qt::ControlModifier);
    QVERIFY(rig.boxes.shown.isEmpty());
    SynthState saved;
    QVERIFY2(loadSceneFile(QFile::encodeName(rig.file("out.json")).toStdString(), saved, error),
             error.c_str());
    QVERIFY(saved == pending);

    rig.boxes.savePath = rig.file("no/such/folder/out.json");
    rig.keys(Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(rig.boxes.shown.size(), 1);
    QVERIFY(rig.boxes.shown[0].startsWith("Error|Could not save the scene out.json:"));
}

void SceneRecordingTest::openSceneLandsAtTheNextBlockAndMovesTheControls() {
    Rig rig;
    const SynthState before = rig.state();
    const SynthState scene = sceneUnlike(before);
    std::string error;
    QVERIFY(saveSceneFile(QFile::encodeName(rig.file("s.json")).toStdString(), scene, error));
    rig.boxes.openPath = rig.file("s.json");
    rig.keys(Qt::Key_O, Qt::ControlModifier);
    QVERIFY(rig.boxes.shown.isEmpty());
    // Handed to the render, not written under it; the window shows it at once.
    QCOMPARE(rig.engine->params.masterGain.load(), before.controls.masterGain);
    QVERIFY(rig.engine->voice(kSynthLine1).phrase == before.synthLine1.phrase);
    QVERIFY(rig.state() == scene);
    QCOMPARE(rig.child<QSlider>("synthLine1CutoffSlider")->value(), 250);
    QCOMPARE(rig.child<QSlider>("synthLine2OscMixSlider")->value(), 64); // from the two levels
    QCOMPARE(rig.child<QSlider>("masterSlider")->value(), 4000);
    QCOMPARE(rig.child<QLineEdit>("stepsEdit")->text(), QString("33"));
    QCOMPARE(rig.child<QLineEdit>("bpmEdit")->text(), QString("140"));
    rig.audio.renderOnce(4); // stopped: the next block takes it
    QVERIFY(rig.state() == scene);
    QCOMPARE(rig.engine->params.masterGain.load(), scene.controls.masterGain);
    QVERIFY(rig.engine->voice(kSynthLine1).phrase == scene.synthLine1.phrase);
}

void SceneRecordingTest::badScenesAreRefusedAndChangeNothing() {
    Rig rig;
    // Each kind of bad file is tried on the scene functions; here the window's path: a message naming the
    // field, and no change.
    nlohmann::json outOfRange = sceneToJson(rig.state());
    outOfRange["controls"]["stepCount"] = 300;
    QFile f(rig.file("bad.json"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray::fromStdString(outOfRange.dump()));
    f.close();
    const SynthState before = rig.state();
    const int cutoffPosition = rig.child<QSlider>("synthLine1CutoffSlider")->value();
    rig.boxes.openPath = rig.file("bad.json");
    rig.keys(Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(rig.boxes.shown.size(), 1);
    QVERIFY2(rig.boxes.shown[0].startsWith("Error|Could not open the scene bad.json:"),
             qPrintable(rig.boxes.shown[0]));
    QVERIFY2(rig.boxes.shown[0].contains("stepCount"), qPrintable(rig.boxes.shown[0]));
    rig.audio.renderOnce(4);
    QVERIFY(rig.state() == before);
    QCOMPARE(rig.child<QSlider>("synthLine1CutoffSlider")->value(), cutoffPosition);
    QCOMPARE(rig.child<QLineEdit>("stepsEdit")->text(), QString("16"));
}

void SceneRecordingTest::undoAndRedoOfGeneratorButtons() {
    // The shortcuts reach the window's history; its depth and order are GeneratorsTest's.
    Rig rig;
    const SynthState start = rig.state();
    QTest::mouseClick(rig.child<QPushButton>("synthLine2PsychedelicButton"), Qt::LeftButton);
    const SynthState pressed = rig.state();
    QVERIFY(!(pressed == start));
    rig.keys(Qt::Key_Z, Qt::ControlModifier);
    rig.audio.renderOnce(4);
    QVERIFY(rig.state() == start);
    rig.keys(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    rig.audio.renderOnce(4);
    QVERIFY(rig.state() == pressed);
}

void SceneRecordingTest::recordingShowsItsSizeAndIsFinishedAtExit() {
    Rig rig;
    auto* box = rig.child<QCheckBox>("recordCheckBox");
    auto* size = rig.child<QLabel>("recordSizeLabel");
    QCOMPARE(size->text(), QString("---"));
    rig.boxes.savePath = rig.file("take.wav");
    QTest::mouseClick(box, Qt::LeftButton);
    QCOMPARE(rig.boxes.asked, QStringList{"Record to wav"});
    rig.engine->params.playing.store(true);
    constexpr int kBlocks = 100; // 1000 frames each: well within the recorder's ring
    for (int i = 0; i < kBlocks; ++i)
        rig.audio.renderOnce(4000);
    QTRY_COMPARE_WITH_TIMEOUT(size->text(), QString("0.38 Mb."), 3000); // 400000 bytes

    // Still recording at exit: the file is finished, its header counting every frame.
    QTest::mouseClick(rig.child<QPushButton>("exitButton"), Qt::LeftButton);
    QVERIFY(!rig.window->isVisible());
    const common::test::Bytes wav = fileBytes(rig.file("take.wav"));
    const std::uint32_t dataBytes = 4 * 1000 * kBlocks;
    QCOMPARE(wav.size(), std::size_t{44} + dataBytes); // the header's layout is WavRecorderTest's
    QCOMPARE(le32(wav, 4), 36 + dataBytes);
    QCOMPARE(le32(wav, 40), dataBytes);
    QVERIFY(std::any_of(wav.begin() + 44, wav.end(), [](unsigned char b) { return b != 0; }));
    QVERIFY(rig.boxes.shown.isEmpty());
}

void SceneRecordingTest::lampsFollowThePublishedStep() {
    Rig rig;
    auto* lamps = rig.child<StepLamps>("stepLamps");
    auto* page = rig.child<QLabel>("stepPageLabel");
    QCOMPARE(lamps->count(), 16);
    rig.engine->params.playing.store(true);
    // 5000-frame steps: after 5.5 steps of blocks the render has published step 5.
    for (int i = 0; i < 55; ++i)
        rig.audio.renderOnce(2000);
    QTRY_COMPARE_WITH_TIMEOUT(lamps->lit(), 5, 1000); // the 50 ms timer
    QCOMPARE(page->text(), QString("Steps 1-16 of 16"));

    // Beyond 64 steps the lamps show the page of the playing step.
    rig.engine->params.stepCount.store(100);
    rig.engine->params.playingStep.store(70);
    QTRY_COMPARE_WITH_TIMEOUT(lamps->page(), 1, 1000);
    QCOMPARE(lamps->lit(), 6);
    QCOMPARE(lamps->count(), 36);

    // The longest page name fits its label whole.
    rig.engine->params.stepCount.store(256);
    rig.engine->params.playingStep.store(130);
    QTRY_COMPARE_WITH_TIMEOUT(page->text(), QString("Steps 129-192 of 256"), 1000);
    QVERIFY(page->fontMetrics().horizontalAdvance(page->text()) <= page->contentsRect().width());
}

QTEST_MAIN(SceneRecordingTest)
#include "SceneRecordingTest.moc"
