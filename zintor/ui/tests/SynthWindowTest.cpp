// The synth window driven as a user would: sliders, fields, buttons, timers and closing, against a
// real engine and a fake audio output.
#include "zintor/ui/SynthWindow.h"
#include "zintor/controls/Controls.h"
#include "zintor/engine/SynthEngine.h"
#include "zintor/generators/PhraseGenerators.h"
#include "zintor/ui/DialogUnits.h"
#include "zintor/ui/SynthApp.h"
#include "zintor/ui/tests/WindowRig.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace zintor;

namespace {

using Rig = WindowRig;

// A voice's whole phrase, to tell which voices a button rewrote.
std::vector<float> phrase(const PhraseState& v) {
    std::vector<float> all;
    for (int i = 0; i < kPhraseSteps; ++i)
        all.insert(all.end(), {float(v.notes[i]), float(v.staccato[i]), v.envRates[i]});
    return all;
}

void typeInto(QLineEdit* field, const QString& text) {
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
}

} // namespace

class SynthWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void slidersApplyWhenFirstShown();
    void stepsField();
    void tempoSet_data();
    void tempoSet();
    void enterInFieldsNeverClosesAndSetKeepsPlaying();
    void closingPaths_data();
    void closingPaths();
    void metersFollowTheRender();
    void generatorButtons_data();
    void generatorButtons();
    void startUpState();
    void exitStopsStreamBeforeEngineGoes();
    void layoutIsTidyAndAccessible();
    void inertControlsAndAbout();
    void everyTableRowHasItsSlider();
    void clockChoiceFollowsTheMasterAndIsKept();
    void leadingJackTransport();
};

void SynthWindowTest::slidersApplyWhenFirstShown() {
    Rig rig(false);
    // Whatever the engine holds before the window shows, the first showing puts the sliders' values in.
    rig.engine->synthLine2.cutoff.store(0.9f);
    rig.params().masterGain.store(1.0f);
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    QCOMPARE(rig.engine->synthLine2.cutoff.load(), 0.002f);
    QCOMPARE(rig.params().masterGain.load(), 16384.0f);
    // The top of the master slider is loudest, and the arrow keys move the handle the way they point.
    auto* master = rig.child<QSlider>("masterSlider");
    master->setFocus();
    QTest::keyClick(master, Qt::Key_Up);
    QVERIFY(rig.params().masterGain.load() > 16384.0f);
}

void SynthWindowTest::stepsField() {
    Rig rig;
    auto* steps = rig.child<QLineEdit>("stepsEdit");
    typeInto(steps, "");
    QCOMPARE(rig.params().stepCount.load(), 0); // a cleared field means 0 steps
    QTest::keyClicks(steps, "3");
    QCOMPARE(rig.params().stepCount.load(), 3);
    QTest::keyClicks(steps, "x0-"); // digits only
    QCOMPARE(steps->text(), QString("30"));
    QCOMPARE(rig.params().stepCount.load(), 30);
    QVERIFY(rig.boxes.shown.isEmpty());

    QList<int> storedWhileBoxOpen;
    rig.boxes.onError = [&] { storedWhileBoxOpen << rig.params().stepCount.load(); };
    QTest::keyClicks(steps, "0");
    QCOMPARE(rig.boxes.shown, QStringList{"Error|Too many steps"});
    QCOMPARE(storedWhileBoxOpen, QList<int>{30}); // 300 is never stored, not even for a moment
    QCOMPARE(steps->text(), QString("256"));
    QCOMPARE(rig.params().stepCount.load(), 256);

    typeInto(steps, "256");
    QCOMPARE(rig.boxes.shown.size(), 1); // 256 itself is fine
    // More digits than an int holds must still be refused, not wrap around.
    steps->setText("99999999999999999999");
    QCOMPARE(rig.boxes.shown.size(), 2);
    QCOMPARE(rig.params().stepCount.load(), 256);
}

void SynthWindowTest::tempoSet_data() {
    QTest::addColumn<QString>("bpm");
    QTest::addColumn<int>("samplesPerStep");
    QTest::addColumn<QString>("status");
    QTest::newRow("132") << "132" << 5011 << "Set to 132";
    QTest::newRow("830 rounds") << "830" << 796 << "Set to 831";
    QTest::newRow("slowest") << "32" << 20671 << "Set to 32";
    QTest::newRow("fastest") << "1023" << 646 << "Set to 1023";
    QTest::newRow("31 ignored") << "31" << 5000 << "Set to 132";
    QTest::newRow("1024 ignored") << "1024" << 5000 << "Set to 132";
    QTest::newRow("empty does nothing") << "" << 5000 << "";
}

void SynthWindowTest::tempoSet() {
    QFETCH(QString, bpm);
    QFETCH(int, samplesPerStep);
    QFETCH(QString, status);
    Rig rig;
    typeInto(rig.child<QLineEdit>("bpmEdit"), bpm);
    QCOMPARE(rig.params().samplesPerStep.load(), 5000); // the field alone changes nothing
    QTest::mouseClick(rig.child<QPushButton>("setButton"), Qt::LeftButton);
    QCOMPARE(rig.params().samplesPerStep.load(), samplesPerStep);
    QCOMPARE(rig.status(), status);
}

void SynthWindowTest::enterInFieldsNeverClosesAndSetKeepsPlaying() {
    Rig rig;
    QSignalSpy finished(rig.window.get(), &QDialog::finished);
    // Enter on a focused button presses that button, as in any dialog.
    auto* play = rig.child<QPushButton>("playButton");
    play->setFocus();
    QTest::keyClick(play, Qt::Key_Return);
    QVERIFY(rig.params().playing.load());
    auto* bpm = rig.child<QLineEdit>("bpmEdit");
    typeInto(bpm, "140");
    QTest::keyClick(bpm, Qt::Key_Return);
    QCOMPARE(rig.params().samplesPerStep.load(), 661500 / 140);
    QCOMPARE(rig.status(), QString("Set to 140"));
    QVERIFY(rig.params().playing.load()); // "Set" does not stop the music
    QTest::keyClick(bpm, Qt::Key_Enter);
    auto* steps = rig.child<QLineEdit>("stepsEdit");
    typeInto(steps, "12");
    QTest::keyClick(steps, Qt::Key_Return);
    QTest::keyClick(steps, Qt::Key_Enter);
    QCOMPARE(rig.params().stepCount.load(), 12);
    QVERIFY(rig.window->isVisible());
    QCOMPARE(finished.count(), 0);
}

void SynthWindowTest::closingPaths_data() {
    QTest::addColumn<QString>("how");
    for (const char* how : {"okButton", "exitButton", "escape", "close box", "enter elsewhere"})
        QTest::newRow(how) << how;
}

void SynthWindowTest::closingPaths() {
    QFETCH(QString, how);
    Rig rig;
    QSignalSpy finished(rig.window.get(), &QDialog::finished);
    if (how == "escape")
        QTest::keyClick(rig.window.get(), Qt::Key_Escape);
    else if (how == "close box")
        rig.window->close();
    else if (how == "enter elsewhere") // "OK" stays the default button outside the two fields
        QTest::keyClick(rig.child<QSlider>("shuffleSlider"), Qt::Key_Return);
    else
        QTest::mouseClick(rig.child<QPushButton>(how), Qt::LeftButton);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!rig.window->isVisible());
    QVERIFY(rig.boxes.shown.isEmpty()); // no question asked
}

void SynthWindowTest::metersFollowTheRender() {
    // Real music through the stream's callback: the meters show the peaks the render reports.
    Rig rig;
    rig.params().playing.store(true);
    for (int block = 0; block < 20; ++block)
        rig.audio.renderOnce(4000);
    const int peak = rig.params().peakLeft.load();
    QVERIFY(peak > 0);
    QTRY_COMPARE_WITH_TIMEOUT(rig.child<QProgressBar>("leftMeter")->value(), peak, 1000);
    QTRY_COMPARE_WITH_TIMEOUT(rig.child<QProgressBar>("rightMeter")->value(), rig.params().peakRight.load(),
                              1000);
    rig.audio.cpu = 12.345f;
    QTRY_COMPARE_WITH_TIMEOUT(rig.child<QLabel>("cpuLabel")->text(), QString("cpu: 12.3%"), 2000);
}

void SynthWindowTest::generatorButtons_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("voice"); // 0 synthLine1, 1 synthLine2, 2 subBass
    QTest::addColumn<int>("style"); // 0 Goa, 1 FLAT Riff, 2 Psychedelic, 3 sub bass
    QTest::newRow("1 Goa") << "synthLine1GoaButton" << 0 << 0;
    QTest::newRow("1 FLAT Riff") << "synthLine1FlatRiffButton" << 0 << 1;
    QTest::newRow("1 Psychedelic") << "synthLine1PsychedelicButton" << 0 << 2;
    QTest::newRow("2 Goa") << "synthLine2GoaButton" << 1 << 0;
    QTest::newRow("2 Flat riff") << "synthLine2FlatRiffButton" << 1 << 1;
    QTest::newRow("2 Psychedelic") << "synthLine2PsychedelicButton" << 1 << 2;
    QTest::newRow("sub bass") << "subBassGenerateButton" << 2 << 3;
}

void SynthWindowTest::generatorButtons() {
    QFETCH(QString, button);
    QFETCH(int, voice);
    QFETCH(int, style);
    Rig rig;
    Generator generators[] = {generateGoa, generateFlatRiff, generatePsychedelic, generateSubBass};
    // The same generator from the same random state on a spare voice tells what the press must write.
    VoiceState expected;
    common::Random replay(rig.window->windowRandom().state());
    generators[style](expected, replay);
    std::vector<std::vector<float>> before;
    for (int i = 0; i < kSynthVoices; ++i)
        before.push_back(phrase(rig.engine->phrase(i)));

    QTest::mouseClick(rig.child<QPushButton>(button), Qt::LeftButton);
    for (int i = 0; i < kSynthVoices; ++i) {
        const std::vector<float> now = phrase(rig.engine->phrase(i));
        if (i == voice) {
            QVERIFY(now != before[i]);
            QVERIFY(now == phrase(expected.phrase));
        } else {
            QVERIFY2(now == before[i], qPrintable(QString("voice %1 was rewritten").arg(i)));
        }
    }
}

void SynthWindowTest::startUpState() {
    Rig rig;
    QCOMPARE(rig.child<QLineEdit>("stepsEdit")->text(), QString("16"));
    QCOMPARE(rig.child<QLineEdit>("bpmEdit")->text(), QString("132"));
    QCOMPARE(rig.params().stepCount.load(), 16);
    QCOMPARE(rig.params().samplesPerStep.load(), 5000); // "132" is shown, not applied
    QVERIFY(!rig.params().playing.load());
    QCOMPARE(rig.status(), QString());
    QCOMPARE(rig.audio.calls, (QStringList{"start"}));
    // The start-up phrases are in place: the sub bass's generator sets every envelope rate to 1.2.
    QCOMPARE(rig.engine->phrase(kSubBass).envRates[255], 1.2f);
    QCOMPARE(rig.window->windowTitle(), QString("Vexla Release 9"));
    QVERIFY(!rig.window->windowIcon().isNull());
}

void SynthWindowTest::exitStopsStreamBeforeEngineGoes() {
    auto owned = std::make_unique<FakeSynthAudio>();
    FakeSynthAudio* audio = owned.get();
    SynthApp app(std::move(owned), std::make_unique<FakeMessageBoxes>());
    bool engineAliveAtStop = false;
    audio->onStop = [&] {
        engineAliveAtStop = app.engine() != nullptr;
        if (engineAliveAtStop)
            audio->renderOnce(); // a last callback still in flight must find the engine whole
    };
    QTimer::singleShot(0, [&] {
        QVERIFY(app.window());
        QTest::mouseClick(app.window()->findChild<QPushButton*>("exitButton"), Qt::LeftButton);
    });
    QCOMPARE(app.exec(), 0);
    QVERIFY(engineAliveAtStop);
    QCOMPARE(audio->calls, (QStringList{"start", "stop"}));
    QVERIFY(app.engine() == nullptr && app.window() == nullptr);
}

void SynthWindowTest::layoutIsTidyAndAccessible() {
    Rig rig;
    const DialogUnits units(rig.window->font());
    QCOMPARE(rig.window->size(), QSize(units.x(494), units.y(322)));
    const QRect client = rig.window->rect();
    const auto groups = rig.window->findChildren<QGroupBox*>();
    QStringList captions;
    for (QGroupBox* g : groups) {
        captions << g->title();
        QVERIFY2(client.contains(g->geometry()), qPrintable(g->title()));
        for (QGroupBox* other : groups)
            QVERIFY2(g == other || !g->geometry().intersects(other->geometry()), qPrintable(g->title()));
        for (QWidget* w : g->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            QVERIFY2(g->rect().contains(w->geometry()), qPrintable(w->objectName()));
    }
    captions.sort();
    QCOMPARE(captions, (QStringList{"Control", "Global tranpose", "Hi-Hats / Snare", "Kick", "Master Vol.",
                                    "Sub bass synth", "Synthline-1", "Synthline-2"}));
    int sliders = 0;
    for (QWidget* w : rig.window->findChildren<QWidget*>()) {
        if (qobject_cast<QSlider*>(w) || qobject_cast<QPushButton*>(w) || qobject_cast<QLineEdit*>(w) ||
            qobject_cast<QProgressBar*>(w)) {
            QVERIFY2(!w->objectName().isEmpty() && !w->accessibleName().isEmpty(),
                     qPrintable(w->objectName()));
            QVERIFY2(client.contains(QRect(w->mapTo(rig.window.get(), QPoint()), w->size())),
                     qPrintable(w->objectName()));
        }
        sliders += qobject_cast<QSlider*>(w) != nullptr;
    }
    QCOMPARE(sliders, 26); // 23 working sliders and the three disabled noise-drum ones
}

void SynthWindowTest::inertControlsAndAbout() {
    Rig rig;
    QVERIFY(!rig.child<QGroupBox>("noiseDrumGroup")->isEnabled());
    for (const char* name : {"snareVolumeSlider", "hatVolumeSlider", "hitVolumeSlider"}) {
        QTest::keyClick(rig.child<QSlider>(name), Qt::Key_End);
        QCOMPARE(rig.child<QSlider>(name)->value(), 0);
    }
    QSignalSpy finished(rig.window.get(), &QDialog::finished);
    QTest::mouseClick(rig.child<QPushButton>("helpButton"), Qt::LeftButton);
    QVERIFY(rig.window->isVisible() && finished.isEmpty() && !QApplication::activeModalWidget());

    auto* about = rig.child<QAction>("aboutAction");
    QVERIFY(rig.window->actions().contains(about)); // in the window's right-click menu
    QStringList seen;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        QVERIFY(modal && modal != rig.window.get());
        seen << modal->windowTitle();
        // "System info..." and "Credits && greetz..." do nothing; OK closes.
        for (const char* name : {"systemInfoButton", "creditsButton"})
            QTest::mouseClick(modal->findChild<QPushButton*>(name), Qt::LeftButton);
        seen << QString::number(modal->isVisible());
        QTest::mouseClick(modal->findChild<QPushButton*>("okButton"), Qt::LeftButton);
    });
    QTimer::singleShot(5000, [] { // never let a stuck modal loop hang the run
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    about->trigger();
    QCOMPARE(seen, (QStringList{"About Vexla", "1"}));
    QVERIFY(!QApplication::activeModalWidget());
}

void SynthWindowTest::everyTableRowHasItsSlider() {
    // The window builds its sliders from the control table: one slider per row, with its range, start
    // position and accessible name, and a move stores the row's mapping (whose values ControlsTest checks).
    Rig rig;
    for (const Control& c : controls()) {
        if (c.checkBox) {
            // A check box's tick stores 1.
            auto* box = rig.child<QCheckBox>(QString::fromStdString(c.objectName) + "CheckBox");
            QCOMPARE(box->accessibleName(), QString::fromStdString(c.accessibleName));
            box->click();
            QCOMPARE(c.access.load(*rig.engine), 1.0);
            continue;
        }
        auto* slider = rig.child<QSlider>(QString::fromStdString(c.objectName) + "Slider");
        QCOMPARE(slider->minimum(), c.lowestPosition);
        QCOMPARE(slider->maximum(), c.highestPosition);
        QCOMPARE(slider->value(), c.startPosition);
        QCOMPARE(slider->accessibleName(), QString::fromStdString(c.accessibleName));
        slider->setValue(c.highestPosition);
        QCOMPARE(c.access.load(*rig.engine), double(c.value(c.highestPosition)));
    }
}

void SynthWindowTest::clockChoiceFollowsTheMasterAndIsKept() {
    Rig rig;
    QSettings store(rig.file("zintor.conf"), QSettings::IniFormat);
    rig.window->setSettingsStore(&store);
    auto* clocks = rig.child<QComboBox>("clockList");
    QCOMPARE(clocks->currentText(), QString("Internal"));
    clocks->setCurrentIndex(clocks->findText("MIDI clock"));
    QCOMPARE(rig.window->clockSource(), common::ClockSource::MidiClock);
    QCOMPARE(store.value("sync/clockSource").toString(), QString("midi"));

    // The master's tempo in whole BPM, and its Start and Stop on the Play button; the switch itself is
    // left to the master meanwhile.
    rig.params().followedBpm.store(133.4f);
    rig.params().masterPlaying.store(true);
    rig.window->refreshFollowing();
    QCOMPARE(rig.child<QLineEdit>("bpmEdit")->text(), QString("133"));
    QCOMPARE(rig.params().samplesPerStep.load(), 661500 / 133);
    QVERIFY(rig.child<QPushButton>("playButton")->isChecked());
    QCOMPARE(rig.status(), QString("Playing..."));
    QVERIFY(!rig.params().playing.load());
    rig.params().followedBpm.store(133.6f); // within a BPM of what is shown: left alone
    rig.window->refreshFollowing();
    QCOMPARE(rig.child<QLineEdit>("bpmEdit")->text(), QString("133"));

    // Back on its own clock it plays as the button shows.
    clocks->setCurrentIndex(clocks->findText("Internal"));
    QVERIFY(rig.child<QLineEdit>("bpmEdit")->isEnabled());
    QVERIFY(rig.params().playing.load());

    // The next start finds the choice; --sync would win over it.
    store.setValue("sync/clockSource", "midi");
    for (const std::optional<common::ClockSource> given :
         {std::optional<common::ClockSource>{}, std::optional{common::ClockSource::Internal}}) {
        SynthApp app(std::make_unique<FakeSynthAudio>(), std::make_unique<FakeMessageBoxes>());
        app.setSettingsStore(&store);
        app.setClockSource(given);
        common::ClockSource seen = common::ClockSource::Internal;
        QTimer::singleShot(0, [&] {
            QVERIFY(app.window());
            seen = app.window()->clockSource();
            QTest::mouseClick(app.window()->findChild<QPushButton*>("exitButton"), Qt::LeftButton);
        });
        QCOMPARE(app.exec(), 0);
        QCOMPARE(seen, given.value_or(common::ClockSource::MidiClock));
    }
}

// Leading the transport: the tempo stays the user's, Play rolls and halts the transport; following it, the
// tempo is the master's; back on its own clock, nothing leads.
void SynthWindowTest::leadingJackTransport() {
    Rig rig;
    auto* clock = rig.child<QComboBox>("clockList");
    auto* bpm = rig.child<QLineEdit>("bpmEdit");
    auto* play = rig.child<QPushButton>("playButton");
    QCOMPARE(clock->itemText(static_cast<int>(common::ClockSource::JackTransport)),
             QString("JACK transport"));
    if (play->isChecked())
        QTest::mouseClick(play, Qt::LeftButton);
    rig.audio.calls.clear();

    clock->setCurrentIndex(static_cast<int>(common::ClockSource::JackTimebase));
    QVERIFY(bpm->isEnabled());
    QCOMPARE(rig.audio.calls, QStringList{"lead"});
    QTest::mouseClick(play, Qt::LeftButton);
    QTest::mouseClick(play, Qt::LeftButton);
    QCOMPARE(rig.audio.calls, (QStringList{"lead", "roll", "halt"}));
    QVERIFY(rig.audio.settings.transport != nullptr); // the stream hears the transport

    rig.audio.calls.clear();
    clock->setCurrentIndex(static_cast<int>(common::ClockSource::JackTransport));
    QVERIFY(!bpm->isEnabled());
    QTest::mouseClick(play, Qt::LeftButton);
    QCOMPARE(rig.audio.calls, QStringList{"follow"}); // only a leader rolls the transport
    // No timebase master: the tempo followed is the window's own, and the refreshes leave it there.
    const QString tempo = bpm->text();
    for (int refresh = 0; refresh < 3; ++refresh) {
        rig.audio.renderOnce();
        QTest::qWait(550); // a refresh of the followed tempo
    }
    QCOMPARE(bpm->text(), tempo);
    clock->setCurrentIndex(static_cast<int>(common::ClockSource::Internal));
    QVERIFY(bpm->isEnabled());
}

QTEST_MAIN(SynthWindowTest)
#include "SynthWindowTest.moc"
