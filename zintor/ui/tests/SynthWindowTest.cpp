// The synth window driven as a user would: sliders, fields, buttons, timers and closing, against a
// real engine and a fake audio output.
#include "zintor/engine/SynthEngine.h"
#include "zintor/generators/PhraseGenerators.h"
#include "zintor/ui/DialogUnits.h"
#include "zintor/ui/SynthApp.h"
#include "zintor/ui/SynthWindow.h"
#include "zintor/ui/tests/FakeSynthAudio.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QtTest>

#include <functional>
#include <memory>

using namespace zintor;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// One window on a fresh engine, shown, with fakes for everything that would block or make noise.
struct Rig {
    std::unique_ptr<SynthEngine> engine = std::make_unique<SynthEngine>();
    FakeSynthAudio audio;
    FakeMessageBoxes boxes;
    std::unique_ptr<SynthWindow> window;

    explicit Rig(bool show = true) {
        window = std::make_unique<SynthWindow>(*engine, audio, boxes);
        if (show) {
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        }
    }
    template <typename T> T* child(const QString& name) const {
        T* found = window->findChild<T*>(name);
        if (!found)
            qFatal("no control named %s", qPrintable(name));
        return found;
    }
    SynthParams& params() { return engine->params; }
};

// The engine values that a slider may write, by name.
double readField(SynthEngine& e, const QString& field) {
    static const QHash<QString, std::function<double(SynthEngine&)>> fields = {
        {"synthLine1.filterType", [](SynthEngine& e) { return e.synthLine1.filterType.load(); }},
        {"synthLine1.inertia", [](SynthEngine& e) { return e.synthLine1.inertia.load(); }},
        {"synthLine1.cutoff", [](SynthEngine& e) { return e.synthLine1.cutoff.load(); }},
        {"synthLine1.resonance", [](SynthEngine& e) { return e.synthLine1.resonance.load(); }},
        {"synthLine1.driveCeiling", [](SynthEngine& e) { return e.synthLine1.driveCeiling.load(); }},
        {"synthLine1.delaySend", [](SynthEngine& e) { return e.synthLine1.delaySend.load(); }},
        {"synthLine1.osc1Level", [](SynthEngine& e) { return e.synthLine1.osc1Level.load(); }},
        {"synthLine1.osc2Level", [](SynthEngine& e) { return e.synthLine1.osc2Level.load(); }},
        {"synthLine1.volume", [](SynthEngine& e) { return e.synthLine1.volume.load(); }},
        {"synthLine2.filterType", [](SynthEngine& e) { return e.synthLine2.filterType.load(); }},
        {"synthLine2.inertia", [](SynthEngine& e) { return e.synthLine2.inertia.load(); }},
        {"synthLine2.cutoff", [](SynthEngine& e) { return e.synthLine2.cutoff.load(); }},
        {"synthLine2.resonance", [](SynthEngine& e) { return e.synthLine2.resonance.load(); }},
        {"synthLine2.driveCeiling", [](SynthEngine& e) { return e.synthLine2.driveCeiling.load(); }},
        {"synthLine2.delaySend", [](SynthEngine& e) { return e.synthLine2.delaySend.load(); }},
        {"synthLine2.osc1Level", [](SynthEngine& e) { return e.synthLine2.osc1Level.load(); }},
        {"synthLine2.osc2Level", [](SynthEngine& e) { return e.synthLine2.osc2Level.load(); }},
        {"synthLine2.volume", [](SynthEngine& e) { return e.synthLine2.volume.load(); }},
        {"kick.startIncrement", [](SynthEngine& e) { return e.kick.startIncrement.load(); }},
        {"kick.pitchDecay", [](SynthEngine& e) { return e.kick.pitchDecay.load(); }},
        {"kick.volume", [](SynthEngine& e) { return e.kick.volume.load(); }},
        {"subBassGain", [](SynthEngine& e) { return e.params.subBassGain.load(); }},
        {"masterGain", [](SynthEngine& e) { return e.params.masterGain.load(); }},
        {"globalTranspose", [](SynthEngine& e) { return e.params.globalTranspose.load(); }},
        {"shuffleAmount", [](SynthEngine& e) { return e.params.shuffleAmount.load(); }},
    };
    return fields.value(field)(e);
}

// What a voice's phrase and character look like, to tell which voices a button rewrote.
struct VoiceSnapshot {
    std::array<int, 256> notes{};
    std::array<int, 256> staccato{};
    std::array<float, 256> envRates{};
    float detune = 0, lfoDepth = 0, lfoRate = 0;
    bool square = false;

    explicit VoiceSnapshot(const SynthVoice& v) {
        for (int i = 0; i < 256; ++i) {
            notes[i] = v.notes[i].load();
            staccato[i] = v.staccato[i].load();
            envRates[i] = v.envRates[i].load();
        }
        detune = v.detune.load();
        lfoDepth = v.lfoDepth.load();
        lfoRate = v.lfoRate.load();
        square = v.square.load();
    }
    bool operator==(const VoiceSnapshot&) const = default;
};

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
    void sliderFormulas_data();
    void sliderFormulas();
    void slidersApplyWhenFirstShown();
    void masterKeyUpIsLouder();
    void stepsFollowEveryKeystroke();
    void stepsOverLimitResetTo256();
    void tempoSet_data();
    void tempoSet();
    void statusKeepsLastAction();
    void enterInFieldsNeverCloses();
    void closingPaths_data();
    void closingPaths();
    void metersAndCpuFollowTheEngine();
    void generatorButtons_data();
    void generatorButtons();
    void startUpState();
    void exitStopsStreamBeforeEngineGoes();
    void layoutIsTidyAndAccessible();
    void noiseGroupDisabledAndHelpInert();
    void aboutDialog();
};

void SynthWindowTest::sliderFormulas_data() {
    QTest::addColumn<QString>("slider");
    QTest::addColumn<int>("position"); // INT_MIN: leave the initial position
    QTest::addColumn<QString>("field");
    QTest::addColumn<double>("expected");
    constexpr int initial = INT_MIN;
    auto row = [](const char* slider, int pos, const char* field, double value) {
        QTest::addRow("%s@%s=%s", slider, pos == initial ? "initial" : qPrintable(QString::number(pos)), field)
            << QString(slider) << pos << QString(field) << value;
    };
    row("masterSlider", 0, "masterGain", 24000);
    row("masterSlider", 24000, "masterGain", 0);
    row("masterSlider", initial, "masterGain", 16384);
    row("transposeSlider", -12, "globalTranspose", -12);
    row("transposeSlider", 12, "globalTranspose", 12);
    row("transposeSlider", initial, "globalTranspose", -1);
    row("shuffleSlider", 256, "shuffleAmount", 256);
    row("shuffleSlider", initial, "shuffleAmount", 0);
    row("subBassVolumeSlider", 1, "subBassGain", 0.001);
    row("subBassVolumeSlider", 2000, "subBassGain", 2.0);
    row("subBassVolumeSlider", initial, "subBassGain", 1.3);
    row("kickAttackPitchSlider", 50, "kick.startIncrement", 0.05);
    row("kickAttackPitchSlider", 1500, "kick.startIncrement", 1.5);
    row("kickDecayAmountSlider", 850, "kick.pitchDecay", 0.85);
    row("kickDecayAmountSlider", initial, "kick.pitchDecay", 0.999);
    row("kickVolumeSlider", 0, "kick.volume", 0.0);
    row("kickVolumeSlider", 900, "kick.volume", 0.9);
    row("kickVolumeSlider", initial, "kick.volume", 0.8);
    for (const char* line : {"synthLine1", "synthLine2"}) {
        const bool first = QByteArray(line) == "synthLine1";
        auto s = [&](const char* role) { return QByteArray(line) + role + "Slider"; };
        auto f = [&](const char* field) { return QByteArray(line) + "." + field; };
        row(s("FilterType"), 2, f("filterType"), 2);
        row(s("FilterType"), initial, f("filterType"), 0);
        row(s("Inertia"), 1, f("inertia"), 1e-6);
        row(s("Inertia"), 1000, f("inertia"), 0.001);
        row(s("Inertia"), initial, f("inertia"), first ? 500e-6 : 2e-6);
        row(s("Cutoff"), 1, f("cutoff"), 0.001);
        row(s("Cutoff"), 1000, f("cutoff"), 1.0);
        row(s("Cutoff"), initial, f("cutoff"), first ? 0.5 : 0.002);
        row(s("Resonance"), 1, f("resonance"), 0.001);
        row(s("Resonance"), 970, f("resonance"), 0.97);
        row(s("Overdrive"), 1, f("driveCeiling"), 0.999);
        row(s("Overdrive"), 950, f("driveCeiling"), 0.05);
        row(s("Overdrive"), initial, f("driveCeiling"), 0.5);
        row(s("DelaySend"), 800, f("delaySend"), 0.8);
        row(s("DelaySend"), initial, f("delaySend"), first ? 0.5 : 0.6);
        row(s("OscMix"), 0, f("osc1Level"), 1.0);
        row(s("OscMix"), 0, f("osc2Level"), 0.0);
        row(s("OscMix"), 256, f("osc1Level"), 0.0);
        row(s("OscMix"), 256, f("osc2Level"), 1.0);
        row(s("OscMix"), initial, f("osc1Level"), 1.0);
        row(s("OscMix"), initial, f("osc2Level"), 1.0);
        row(s("Volume"), 1, f("volume"), 0.001);
        row(s("Volume"), 400, f("volume"), 0.4);
        row(s("Volume"), initial, f("volume"), first ? 0.2 : 0.1);
    }
}

void SynthWindowTest::sliderFormulas() {
    QFETCH(QString, slider);
    QFETCH(int, position);
    QFETCH(QString, field);
    QFETCH(double, expected);
    Rig rig;
    auto* control = rig.child<QSlider>(slider);
    if (position != INT_MIN) {
        // Start from the other end so that the move is a real change whatever the initial position.
        control->setValue(position == control->minimum() ? control->maximum() : control->minimum());
        control->setValue(position);
        QCOMPARE(control->value(), position); // the position lies inside the slider's range
    }
    QVERIFY2(qAbs(readField(*rig.engine, field) - expected) <= 1e-6 * qMax(1.0, qAbs(expected)),
             qPrintable(QString("%1 = %2").arg(field).arg(readField(*rig.engine, field))));
}

void SynthWindowTest::slidersApplyWhenFirstShown() {
    Rig rig(false);
    // Whatever the engine holds before the window shows, the first showing puts the sliders' values in.
    rig.engine->synthLine2.cutoff.store(0.9f);
    rig.engine->kick.volume.store(0.1f);
    rig.params().masterGain.store(1.0f);
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    QCOMPARE(rig.engine->synthLine2.cutoff.load(), 0.002f);
    QCOMPARE(rig.engine->kick.volume.load(), 0.8f);
    QCOMPARE(rig.params().masterGain.load(), 16384.0f);
}

void SynthWindowTest::masterKeyUpIsLouder() {
    Rig rig;
    auto* master = rig.child<QSlider>("masterSlider");
    master->setFocus();
    const float before = rig.params().masterGain.load();
    QTest::keyClick(master, Qt::Key_Up);
    QVERIFY(rig.params().masterGain.load() > before);
    QTest::keyClick(master, Qt::Key_Home);
    QTest::keyClick(master, Qt::Key_End);
    QCOMPARE(rig.params().masterGain.load(), 0.0f); // the far end is silence
}

void SynthWindowTest::stepsFollowEveryKeystroke() {
    Rig rig;
    auto* steps = rig.child<QLineEdit>("stepsEdit");
    typeInto(steps, "");
    QCOMPARE(rig.params().stepCount.load(), 0); // a cleared field means 0 steps
    QTest::keyClicks(steps, "3");
    QCOMPARE(rig.params().stepCount.load(), 3);
    QTest::keyClicks(steps, "x2-"); // digits only
    QCOMPARE(steps->text(), QString("32"));
    QCOMPARE(rig.params().stepCount.load(), 32);
    typeInto(steps, "256");
    QCOMPARE(rig.params().stepCount.load(), 256);
    QVERIFY(rig.boxes.shown.isEmpty());
}

void SynthWindowTest::stepsOverLimitResetTo256() {
    Rig rig;
    auto* steps = rig.child<QLineEdit>("stepsEdit");
    QList<int> seenWhileBoxOpen;
    rig.boxes.onError = [&] { seenWhileBoxOpen << rig.params().stepCount.load(); };
    typeInto(steps, "30");
    QCOMPARE(rig.params().stepCount.load(), 30);
    QTest::keyClicks(steps, "0");
    QCOMPARE(rig.boxes.shown, QStringList{"Error|Too many steps"});
    QCOMPARE(seenWhileBoxOpen, QList<int>{30}); // 300 is never stored, not even for a moment
    QCOMPARE(steps->text(), QString("256"));
    QCOMPARE(rig.params().stepCount.load(), 256);

    // Far more digits than an int holds must still be refused, not wrap around.
    rig.boxes.shown.clear();
    steps->setText("99999999999999999999");
    QCOMPARE(rig.boxes.shown.size(), 1);
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
    QCOMPARE(rig.child<QLabel>("statusLabel")->text(), status);
}

void SynthWindowTest::statusKeepsLastAction() {
    Rig rig;
    auto* status = rig.child<QLabel>("statusLabel");
    auto* play = rig.child<QPushButton>("playButton");
    auto* set = rig.child<QPushButton>("setButton");
    QTest::mouseClick(play, Qt::LeftButton);
    QVERIFY(play->isChecked());
    QVERIFY(rig.params().playing.load());
    QCOMPARE(status->text(), QString("Playing..."));
    QTest::mouseClick(set, Qt::LeftButton);
    QCOMPARE(status->text(), QString("Set to 132"));
    QVERIFY(rig.params().playing.load()); // "Set" does not stop the music
    QTest::mouseClick(play, Qt::LeftButton);
    QVERIFY(!rig.params().playing.load());
    QCOMPARE(status->text(), QString("Stopped..."));
    typeInto(rig.child<QLineEdit>("bpmEdit"), "");
    QTest::mouseClick(set, Qt::LeftButton);
    QCOMPARE(status->text(), QString("Stopped..."));
}

void SynthWindowTest::enterInFieldsNeverCloses() {
    Rig rig;
    QSignalSpy finished(rig.window.get(), &QDialog::finished);
    auto* bpm = rig.child<QLineEdit>("bpmEdit");
    typeInto(bpm, "140");
    QTest::keyClick(bpm, Qt::Key_Return);
    QCOMPARE(rig.params().samplesPerStep.load(), 661500 / 140);
    QCOMPARE(rig.child<QLabel>("statusLabel")->text(), QString("Set to 140"));
    QTest::keyClick(bpm, Qt::Key_Enter);
    auto* steps = rig.child<QLineEdit>("stepsEdit");
    typeInto(steps, "12");
    QTest::keyClick(steps, Qt::Key_Return);
    QTest::keyClick(steps, Qt::Key_Enter);
    QCOMPARE(rig.params().stepCount.load(), 12);
    QCOMPARE(rig.child<QLabel>("statusLabel")->text(), QString("Set to 140"));
    QVERIFY(rig.window->isVisible());
    QCOMPARE(finished.count(), 0);
}

void SynthWindowTest::closingPaths_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("OK") << "okButton";
    QTest::newRow("Exit") << "exitButton";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("close box") << "close";
    QTest::newRow("Enter on OK's default") << "enter";
}

void SynthWindowTest::closingPaths() {
    QFETCH(QString, how);
    Rig rig;
    QSignalSpy finished(rig.window.get(), &QDialog::finished);
    if (how == "escape")
        QTest::keyClick(rig.window.get(), Qt::Key_Escape);
    else if (how == "close")
        rig.window->close();
    else if (how == "enter")
        QTest::keyClick(rig.child<QSlider>("shuffleSlider"), Qt::Key_Return);
    else
        QTest::mouseClick(rig.child<QPushButton>(how), Qt::LeftButton);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!rig.window->isVisible());
    QVERIFY(rig.boxes.shown.isEmpty()); // no question asked
}

void SynthWindowTest::metersAndCpuFollowTheEngine() {
    Rig rig;
    auto* left = rig.child<QProgressBar>("leftMeter");
    auto* right = rig.child<QProgressBar>("rightMeter");
    auto* cpu = rig.child<QLabel>("cpuLabel");
    QCOMPARE(cpu->text(), QString("cpu: 0.0%"));
    QCOMPARE(left->maximum(), 32769);
    rig.params().peakLeft.store(12000);
    rig.params().peakRight.store(32767);
    rig.audio.cpu = 12.345f;
    QTRY_COMPARE_WITH_TIMEOUT(left->value(), 12000, 1000);
    QTRY_COMPARE_WITH_TIMEOUT(right->value(), 32767, 1000);
    QTRY_COMPARE_WITH_TIMEOUT(cpu->text(), QString("cpu: 12.3%"), 2000);

    // Real music: the meters show the peaks the render reports.
    rig.params().playing.store(true);
    for (int block = 0; block < 20; ++block)
        rig.audio.renderOnce(4000);
    const int peak = rig.params().peakLeft.load();
    QVERIFY(peak > 0);
    QTRY_COMPARE_WITH_TIMEOUT(left->value(), peak, 1000);
    QTRY_COMPARE_WITH_TIMEOUT(right->value(), rig.params().peakRight.load(), 1000);
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
    SynthVoice* voices[] = {&rig.engine->synthLine1, &rig.engine->synthLine2, &rig.engine->subBass};
    void (*generators[])(SynthVoice&, common::Random&) = {generateGoa, generateFlatRiff, generatePsychedelic,
                                                          generateSubBass};
    // The same generator from the same random state on a spare voice tells what the press must write.
    SynthVoice expected;
    common::Random replay(rig.window->windowRandom().state());
    generators[style](expected, replay);

    std::vector<VoiceSnapshot> before;
    for (SynthVoice* v : voices)
        before.emplace_back(*v);
    QTest::mouseClick(rig.child<QPushButton>(button), Qt::LeftButton);
    for (int i = 0; i < 3; ++i) {
        const VoiceSnapshot after(*voices[i]);
        if (i == voice) {
            QVERIFY(!(after == before[i]));
            QCOMPARE(after.notes, VoiceSnapshot(expected).notes);
            QCOMPARE(after.envRates, VoiceSnapshot(expected).envRates);
            QCOMPARE(after.staccato, VoiceSnapshot(expected).staccato);
        } else {
            QVERIFY2(after == before[i], qPrintable(QString("voice %1 was rewritten").arg(i)));
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
    QVERIFY(!rig.child<QPushButton>("playButton")->isChecked());
    QCOMPARE(rig.child<QLabel>("statusLabel")->text(), QString());
    QCOMPARE(rig.audio.calls, (QStringList{"open", "play"}));
    QCOMPARE(rig.audio.userData, static_cast<void*>(rig.engine.get()));
    // The start-up phrases are in place: the sub bass's generator sets every envelope rate to 1.2.
    QCOMPARE(rig.engine->subBass.envRates[255].load(), 1.2f);
    QCOMPARE(rig.window->windowTitle(), QString("Vexla Release 9"));
    QVERIFY(!rig.window->windowIcon().isNull());
}

void SynthWindowTest::exitStopsStreamBeforeEngineGoes() {
    auto audioOwned = std::make_unique<FakeSynthAudio>();
    FakeSynthAudio* audio = audioOwned.get();
    SynthApp app(std::move(audioOwned), std::make_unique<FakeMessageBoxes>());
    bool engineAliveAtStop = false;
    audio->onStop = [&] {
        engineAliveAtStop = app.engine() != nullptr;
        audio->renderOnce(); // a last callback still in flight must find the engine whole
    };
    QTimer::singleShot(0, [&] {
        QVERIFY(app.window());
        QTest::mouseClick(app.window()->findChild<QPushButton*>("exitButton"), Qt::LeftButton);
    });
    QCOMPARE(app.exec(), 0);
    QVERIFY(engineAliveAtStop);
    QCOMPARE(audio->calls, (QStringList{"open", "play", "stop"}));
    QVERIFY(app.engine() == nullptr);
    QVERIFY(app.window() == nullptr);
}

void SynthWindowTest::layoutIsTidyAndAccessible() {
    Rig rig;
    const DialogUnits units(rig.window->font());
    QCOMPARE(rig.window->size(), QSize(units.x(494), units.y(322)));
    const QRect client = rig.window->rect();
    const auto groups = rig.window->findChildren<QGroupBox*>();
    QStringList captions;
    for (QGroupBox* g : groups)
        captions << g->title();
    captions.sort();
    QCOMPARE(captions, (QStringList{"Control", "Global tranpose", "Hi-Hats / Snare", "Kick", "Master Vol.",
                                    "Sub bass synth", "Synthline-1", "Synthline-2"}));
    for (QGroupBox* g : groups) {
        QVERIFY2(client.contains(g->geometry()), qPrintable(g->title()));
        for (QGroupBox* other : groups)
            QVERIFY2(g == other || !g->geometry().intersects(other->geometry()), qPrintable(g->title()));
        for (QWidget* w : g->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            QVERIFY2(g->rect().contains(w->geometry()), qPrintable(w->objectName()));
    }
    int sliders = 0;
    for (QWidget* w : rig.window->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QSlider*>(w) || qobject_cast<QPushButton*>(w) ||
                             qobject_cast<QLineEdit*>(w) || qobject_cast<QProgressBar*>(w);
        if (control) {
            QVERIFY2(!w->objectName().isEmpty(), qPrintable(w->accessibleName()));
            QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
            QVERIFY2(client.contains(QRect(w->mapTo(rig.window.get(), QPoint()), w->size())),
                     qPrintable(w->objectName()));
        }
        sliders += qobject_cast<QSlider*>(w) != nullptr;
    }
    QCOMPARE(sliders, 26); // 23 working sliders and the three disabled noise-drum ones
    QCOMPARE(rig.child<QSlider>("kickVolumeSlider")->accessibleName(), QString("Kick volume"));
    QCOMPARE(rig.child<QPushButton>("synthLine2FlatRiffButton")->text(), QString("Flat riff"));
    QCOMPARE(rig.child<QPushButton>("synthLine1FlatRiffButton")->text(), QString("FLAT Riff"));
}

void SynthWindowTest::noiseGroupDisabledAndHelpInert() {
    Rig rig;
    for (const char* name : {"snareVolumeSlider", "hatVolumeSlider", "hitVolumeSlider"}) {
        auto* slider = rig.child<QSlider>(name);
        QVERIFY(!slider->isEnabled());
        QTest::keyClick(slider, Qt::Key_End);
        QCOMPARE(slider->value(), slider->minimum());
    }
    QVERIFY(!rig.child<QGroupBox>("noiseDrumGroup")->isEnabled());
    QSignalSpy finished(rig.window.get(), &QDialog::finished);
    QTest::mouseClick(rig.child<QPushButton>("helpButton"), Qt::LeftButton);
    QVERIFY(rig.window->isVisible());
    QCOMPARE(finished.count(), 0);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void SynthWindowTest::aboutDialog() {
    Rig rig;
    auto* about = rig.child<QAction>("aboutAction");
    QCOMPARE(about->text(), QString("&About zintor..."));
    QVERIFY(rig.window->actions().contains(about)); // in the window's context menu
    QString title, release;
    QStringList buttons;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        QVERIFY(modal && modal != rig.window.get());
        title = modal->windowTitle();
        release = modal->findChild<QLabel*>("releaseLabel")->text();
        for (QPushButton* b : modal->findChildren<QPushButton*>())
            buttons << b->text();
        // The two extra buttons do nothing; OK closes.
        QTest::mouseClick(modal->findChild<QPushButton*>("systemInfoButton"), Qt::LeftButton);
        QTest::mouseClick(modal->findChild<QPushButton*>("creditsButton"), Qt::LeftButton);
        QVERIFY(modal->isVisible());
        QTest::mouseClick(modal->findChild<QPushButton*>("okButton"), Qt::LeftButton);
    });
    QTimer watchdog; // never let a stuck modal loop hang the run
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    watchdog.start(5000);
    about->trigger();
    QCOMPARE(title, QString("About Vexla"));
    QCOMPARE(release, QString("Vexla release 8"));
    buttons.sort();
    QCOMPARE(buttons, (QStringList{"Credits && greetz...", "OK", "System info..."}));
    QVERIFY(rig.window->isVisible());
}

QTEST_MAIN(SynthWindowTest)
#include "SynthWindowTest.moc"
