// The loop machine's window driven as a user would: control formulas, buttons, displays, samples,
// recording, settings and quitting, with the audio and every modal dialog faked.
#include "FakeServices.h"

#include "vexla/controls/Controls.h"
#include "vexla/ui/SettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>

using namespace vexla;

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr const char* kRequestButtons[] = {"kickButton", "bassline1Button", "bassline2Button", "sineButton",
                                           "hiHatsButton"};
constexpr Request kRequests[] = {Request::Kick, Request::Bass1, Request::Bass2, Request::Sine, Request::Hats};
} // namespace

class LoopMachineWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::Machine> m_;
    QTemporaryDir dir_;

    template <typename T> T* find(const char* name) { return m_->find<T>(name); }
    QSlider* slider(const char* name) { return m_->slider(name); }
    void click(const char* name) { m_->click(name); }
    EngineParams& params() { return m_->params(); }
    QString lampState() { return find<QLabel>("clipLamp")->accessibleDescription(); }

    // The render as the audio thread would run it, through what the window gave the audio output to play.
    void play(int frames) {
        QVERIFY2(m_->audio.playing != nullptr, "the window plays nothing");
        std::vector<std::int16_t> buffer(std::size_t(frames) * 2);
        m_->audio.playing->render(buffer.data(), frames);
    }

  private slots:
    void init() {
        m_ = std::make_unique<test::Machine>();
        // The tests render far faster than real time: wait for the disk rather than drop frames.
        m_->recorder->setBlockingWhenFull(true);
    }
    void cleanup() { m_.reset(); }

    void startDialogIsCentredClosesEveryWayThenTheAudioStarts() {
        QCOMPARE(m_->events, (QStringList{"dialog startDialog", "audio start"}));
        QCOMPARE(m_->audio.starts[0].blockFrames, 2048);
        QCOMPARE(m_->audio.starts[0].latencyMilliseconds, 40);
        QVERIFY(!params().running.load(kRelaxed));
        QCOMPARE(find<QLineEdit>("stepsEdit")->text(), QString("16"));
        QCOMPARE(m_->window->windowTitle().left(14), QString("- Vexla - R7 -"));
        QVERIFY(!m_->window->windowIcon().isNull());

        // Its button (key 0), Enter and Escape, each on a window of its own.
        for (const auto& [pressed, result] :
             {std::pair{0, int(QDialog::Accepted)}, std::pair{int(Qt::Key_Return), int(QDialog::Accepted)},
              std::pair{int(Qt::Key_Escape), int(QDialog::Rejected)}}) {
            const int key = pressed; // a lambda may not capture a structured binding before clang 16
            int seen = -1;
            QPoint offCentre(1000, 1000);
            m_->dialogs.handler = [&](QDialog& dialog) {
                offCentre = dialog.geometry().center() - dialog.screen()->availableGeometry().center();
                if (key == 0)
                    QTest::mouseClick(dialog.findChild<QPushButton*>("startButton"), Qt::LeftButton);
                else
                    QTest::keyClick(&dialog, Qt::Key(key));
                seen = dialog.result();
                return seen;
            };
            const std::size_t startsBefore = m_->audio.starts.size();
            LoopMachineWindow window(*m_->engine, *m_->recorder, m_->audio, m_->dialogs, 5u);
            window.start();
            QCOMPARE(seen, result);
            QVERIFY2(offCentre.manhattanLength() <= 2,
                     qPrintable(QString("%1, %2").arg(offCentre.x()).arg(offCentre.y())));
            // The audio starts however the picture was closed.
            QCOMPARE(m_->audio.starts.size(), startsBefore + 1);
        }
    }

    void layoutFollowsTheFontAndKeepsControlsInside() {
        // Dialog units come from the font: a font twice the size gives a window about twice as large.
        QFont big = m_->window->font();
        big.setPointSizeF(big.pointSizeF() * 2);
        const QFont old = QApplication::font();
        QApplication::setFont(big);
        LoopMachineWindow large(*m_->engine, *m_->recorder, m_->audio, m_->dialogs, 5u);
        QApplication::setFont(old);
        const double wide = double(large.width()) / m_->window->width();
        const double tall = double(large.height()) / m_->window->height();
        QVERIFY2(wide > 1.7 && wide < 2.3 && tall > 1.7 && tall < 2.3,
                 qPrintable(QString("%1 %2").arg(wide).arg(tall)));
        for (QWidget* widget : m_->window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            QVERIFY2(m_->window->rect().contains(widget->geometry()), qPrintable(widget->objectName()));
        // Rows stack downwards in the order of the layout.
        QVERIFY(find<QWidget>("kickSlider")->y() < find<QWidget>("bassline1Slider")->y());
        QVERIFY(find<QWidget>("vcfLooper2Slider")->y() < find<QWidget>("transposeSlider")->y());
        QVERIFY(find<QWidget>("tempoSlider")->x() > find<QWidget>("masterSlider")->x());
    }

    void firstShowAppliesEverySlider() {
        // Values clobbered before the window shows come back from the sliders when it does.
        LoopMachineWindow fresh(*m_->engine, *m_->recorder, m_->audio, m_->dialogs, 7u);
        params().kickVolume.store(-1.0f, kRelaxed);
        params().masterGain.store(-1.0f, kRelaxed);
        params().vcf1Feedback.store(-1.0f, kRelaxed);
        params().samplesPerStep.store(1, kRelaxed);
        fresh.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fresh));
        QCOMPARE(params().kickVolume.load(kRelaxed), EngineParams().kickVolume.load(kRelaxed));
        QCOMPARE(params().masterGain.load(kRelaxed), 0.875f);
        QCOMPARE(params().vcf1Feedback.load(kRelaxed), 1.5f);
        QCOMPARE(params().samplesPerStep.load(kRelaxed), 5000);
    }

    void slidersSetTheirFieldsThroughTheFormulas() {
        const struct {
            const char* slider;
            const char* field;
            int low, high;
            double atLow, atHigh;
        } rows[] = {
            {"kickSlider", "kickVolume", 0, 128, 0, 16384},
            {"bassline1Slider", "bass1Volume", 0, 128, 0, 16384},
            {"bassline2Slider", "bass2Volume", 0, 128, 0, 16384},
            {"sineSlider", "sineVolume", 0, 128, 0, 1},
            {"hiHatsSlider", "hatVolume", 0, 128, 0, 1},
            {"dryLooperSlider", "dryLooperGain", 0, 128, 0, 1},
            {"secondLooperSlider", "secondLooperGain", 0, 128, 0, 1},
            {"slicerSlider", "slicerGain", 0, 128, 0, 1},
            {"vcfLooper1Slider", "vcf1Gain", 0, 128, 0, 1},
            {"vcfLooper2Slider", "vcf2Gain", 0, 128, 0, 1},
            {"masterSlider", "masterGain", 0, 128, 1, 0},
            {"transposeSlider", "transpose", -12, 12, -12, 12},
            {"tempoSlider", "samplesPerStep", 2000, 20000, 2000, 20000},
        };
        for (const auto& r : rows) {
            // Each end reached from the other, so that the start position is applied as a change too.
            for (const auto& [position, expected] :
                 {std::pair{r.low, r.atLow}, std::pair{r.high, r.atHigh}, std::pair{r.low, r.atLow}}) {
                slider(r.slider)->setValue(position);
                QVERIFY2(double(findControl(r.field)->access.load(params())) == expected, r.slider);
            }
        }
        for (const auto& [position, text] :
             {std::pair{5000, "132.3"}, std::pair{2000, "330.7"}, std::pair{20000, "33.1"}}) {
            slider("tempoSlider")->setValue(position);
            QCOMPARE(find<QLabel>("tempoDisplay")->text(), QString(text));
        }
    }

    void slidersFollowTheKeyboard() {
        // Keyboard moves go through the same formulas; the vertical sliders move up towards the top.
        QSlider* master = slider("masterSlider");
        master->setFocus();
        QTest::keyClick(master, Qt::Key_Home);
        QCOMPARE(params().masterGain.load(kRelaxed), 1.0f);
        QTest::keyClick(master, Qt::Key_Down);
        QCOMPARE(params().masterGain.load(kRelaxed), 127.0f / 128.0f);
        QSlider* tempo = slider("tempoSlider");
        tempo->setFocus();
        QTest::keyClick(tempo, Qt::Key_Up);
        QVERIFY(params().samplesPerStep.load(kRelaxed) < 5000);
    }

    void filterSlidersSetTheirOwnLooper() {
        const struct {
            int upper, lower;
            float cutoff, feedback;
        } rows[] = {
            {64, 64, 0.5f, 1.5f}, // the start
            {0, 0, 0.05f, 0.05f + 0.05f / (1.0f - 0.05f)},
            {128, 128, 0.95f, 0.95f + 0.95f / (1.0f - 0.95f)},
            {128, 0, 0.95f, 0.05f + 0.05f / (1.0f - 0.95f)}, // open, no resonance
            {32, 96, 0.25f, 0.75f + 0.75f / 0.75f},
        };
        for (const auto& r : rows) {
            // Looper 1 moves; looper 2 keeps the last row's values. Then looper 2 moves.
            const float otherCutoff = params().vcf2Cutoff.load(kRelaxed);
            const float otherFeedback = params().vcf2Feedback.load(kRelaxed);
            slider("vcfLooper1CutoffSlider")->setValue(r.upper);
            slider("vcfLooper1ResonanceSlider")->setValue(r.lower);
            QCOMPARE(params().vcf1Cutoff.load(kRelaxed), r.cutoff);
            QCOMPARE(params().vcf1Feedback.load(kRelaxed), r.feedback);
            QCOMPARE(params().vcf2Cutoff.load(kRelaxed), otherCutoff);
            QCOMPARE(params().vcf2Feedback.load(kRelaxed), otherFeedback);
            slider("vcfLooper2CutoffSlider")->setValue(r.upper);
            slider("vcfLooper2ResonanceSlider")->setValue(r.lower);
            QCOMPARE(params().vcf2Cutoff.load(kRelaxed), r.cutoff);
            QCOMPARE(params().vcf2Feedback.load(kRelaxed), r.feedback);
        }
    }

    void setStepTakesWhatWasTypedBetween3And64() {
        // Each typed text would give another count than the one before, so that typing alone shows.
        const struct {
            const char* typed;
            int steps;
        } rows[] = {{"100", 64}, {"0", 3}, {"1x2", 12}, {"99999999999999", 64}, {"", 3}}; // "x" refused
        auto* edit = find<QLineEdit>("stepsEdit");
        for (const auto& r : rows) {
            const int before = params().stepCount.load(kRelaxed);
            edit->clear();
            QTest::keyClicks(edit, r.typed);
            QCOMPARE(params().stepCount.load(kRelaxed), before); // typing alone changes nothing
            click("setStepButton");
            QCOMPARE(params().stepCount.load(kRelaxed), r.steps);
            QCOMPARE(edit->text(), QString::number(r.steps));
        }
    }

    void sequencePicksOneOfSixCounts() {
        const QSet<int> allowed{3, 8, 12, 16, 24, 32};
        QSet<int> seen;
        for (int press = 0; press < 60; ++press) {
            click("sequenceButton");
            const int steps = params().stepCount.load(kRelaxed);
            QVERIFY2(allowed.contains(steps), qPrintable(QString::number(steps)));
            QCOMPARE(find<QLineEdit>("stepsEdit")->text(), QString::number(steps));
            QVERIFY(m_->engine->requestPending(Request::Bass1));
            QVERIFY(m_->engine->requestPending(Request::Bass2));
            seen.insert(steps);
        }
        QVERIFY2(seen.size() >= 4, "the choice should vary from press to press");
    }

    void requestButtonsRaiseTheirFlag() {
        // Nothing renders, so the flags stay up.
        for (int pressed = 0; pressed < 5; ++pressed) {
            click(kRequestButtons[pressed]);
            for (int i = 0; i < 5; ++i)
                QCOMPARE(m_->engine->requestPending(kRequests[i]), i <= pressed);
        }
    }

    // Leading the transport: the tempo stays the user's, Run starts the transport from the top and stops
    // it, and a stream opened then leads it; following, the tempo is the master's and nothing rolls.
    void leadingJackTransport() {
        m_->window->setClockSource(common::ClockSource::JackTimebase);
        QVERIFY(slider("tempoSlider")->isEnabled());
        click("runButton");
        click("runButton");
        QCOMPARE(m_->audio.transportCalls, (QStringList{"lead", "roll from start", "halt"}));
        AudioSettings leading;
        leading.clockSource = common::ClockSource::JackTimebase;
        QVERIFY(streamSettings(leading).leadTransport && !streamSettings(AudioSettings{}).leadTransport);
        m_->audio.transportCalls.clear();
        m_->window->setClockSource(common::ClockSource::JackTransport);
        QVERIFY(!slider("tempoSlider")->isEnabled());
        click("runButton");
        QCOMPARE(m_->audio.transportCalls, QStringList{"follow"});
        // No timebase master: the tempo followed is the window's own, and the refreshes leave it there.
        const int tempo = slider("tempoSlider")->value();
        for (int refresh = 0; refresh < 3; ++refresh) {
            play(1024);
            QTest::qWait(LoopMachineWindow::kStatusTimerMs + 50);
        }
        QCOMPARE(slider("tempoSlider")->value(), tempo);
    }

    void clipLampFollowsItsTimerAndStaysLitUntilCleared() {
        QCOMPARE(lampState(), QString("Not clipped"));
        params().clipped.store(true, kRelaxed);
        QTRY_COMPARE_WITH_TIMEOUT(lampState(), QString("Clipped"), 1000); // the 50 ms timer
        QTest::qWait(3 * LoopMachineWindow::kLampTimerMs);
        QCOMPARE(lampState(), QString("Clipped")); // it stays red until cleared
        click("clipButton");
        QVERIFY(!params().clipped.load(kRelaxed));
        QCOMPARE(lampState(), QString("Not clipped"));
    }

    void aTakeGoesOnThroughNoAtTheExitAndYesCompletesIt() {
        const QString path = dir_.filePath("take.wav");
        m_->dialogs.saveAnswer = path;
        click("recordCheckBox");
        click("runButton");
        const int frames = 262144; // exactly 1 MiB of frames
        play(frames);
        m_->window->refreshStatus();
        QCOMPARE(find<QLabel>("recordingSizeDisplay")->text(), QString("1.00 Mb."));
        m_->dialogs.quitAnswer = false;
        click("exitButton");
        m_->window->close(); // the close box asks the same question
        QCOMPARE(m_->dialogs.questions, QStringList(2, "Exit confirmation: Are u sure to quit Vexla?"));
        QVERIFY(m_->window->isVisible());
        QCOMPARE(m_->audio.stops, 0);
        QVERIFY(params().running.load(kRelaxed));
        QVERIFY(m_->recorder->isRecording());

        m_->dialogs.quitAnswer = true;
        click("exitButton");
        QVERIFY(!m_->window->isVisible());
        QCOMPARE(m_->window->result(), int(QDialog::Accepted));
        QCOMPARE(m_->events.filter("audio").last(), QString("audio stop"));
        QVERIFY(!params().recording.load(kRelaxed));
        QVERIFY(!m_->recorder->isRecording());
        QVERIFY(m_->dialogs.errors.isEmpty());
        // A whole WAV of every frame played, not all silence.
        QCOMPARE(test::wholeWavDataBytes(path), qint64(4) * frames);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().mid(44).count('\0') < 4 * frames);
    }

    void eachLoaderFillsItsOwnSlotAndARejectedFileKeepsIt() {
        const QString good = dir_.filePath("break.wav");
        QVERIFY(test::writeRampWav(good, 7, 321));
        const char* const buttons[] = {"dryLooperLoadButton", "secondLooperLoadButton", "slicerLoadButton",
                                       "vcfLooper1LoadButton", "vcfLooper2LoadButton"};
        const SampleSlot* sampleSlots[] = {&m_->engine->drySlot, &m_->engine->secondSlot,
                                           &m_->engine->slicerSlot, &m_->engine->vcf1Slot,
                                           &m_->engine->vcf2Slot};
        // A cancelled dialog loads nothing and says nothing.
        click("slicerLoadButton");
        for (int button = 0; button < 5; ++button) {
            m_->dialogs.openAnswers = {good};
            click(buttons[button]);
            m_->engine->settleChanges(); // the render swaps a sample in at its next block; none runs here
            for (int i = 0; i < 5; ++i)
                QCOMPARE(sampleSlots[i]->length, i <= button ? 321 : 0);
        }
        QVERIFY(m_->dialogs.errors.isEmpty());
        QCOMPARE(find<QLabel>("dryLooperSampleName")->text(), QString("break.wav"));

        const QString bad = dir_.filePath("notes.wav");
        QFile badFile(bad);
        QVERIFY(badFile.open(QIODevice::WriteOnly));
        badFile.write("this is a shopping list, not a sound\n");
        badFile.close();
        m_->dialogs.openAnswers = {bad};
        click("dryLooperLoadButton");
        QCOMPARE(m_->dialogs.errors.size(), 1);
        QVERIFY(m_->dialogs.errors[0].contains("notes.wav"));
        m_->engine->settleChanges();
        QCOMPARE(m_->engine->drySlot.length, 321);
        QCOMPARE(m_->engine->drySlot.left[10], qint16(70));
        QCOMPARE(find<QLabel>("dryLooperSampleName")->text(), QString("break.wav"));
    }

    void enterAndEscapeDoNothing() {
        for (const char* focus : {"exitButton", "sequenceButton", "stepsEdit", "tempoSlider"}) {
            QWidget* widget = find<QWidget>(focus);
            widget->setFocus();
            const int steps = params().stepCount.load(kRelaxed);
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
                QTest::keyClick(widget, key);
            QVERIFY2(m_->window->isVisible(), focus);
            QCOMPARE(params().stepCount.load(kRelaxed), steps);
        }
        QVERIFY(m_->dialogs.questions.isEmpty());
    }

    void aboutFromTheButtonAndTheMenu() {
        click("aboutButton");
        auto* action = m_->window->findChild<QAction*>("aboutAction");
        QVERIFY(action != nullptr);
        QCOMPARE(action->text(), QString("About Vexla"));
        action->trigger();
        QCOMPARE(m_->events.filter("aboutDialog").size(), 2);
    }

    void settingsRestartTheAudioOnOkOnly() {
        click("runButton");
        const struct {
            const char* button;
            int latency, device, blockFrames; // −1: left as shown
        } rows[] = {{"cancelButton", 8192, 2, -1},
                    {"okButton", -1, -1, 2048}, // unchanged
                    {"okButton", 1024, -1, 1024},
                    {"okButton", 8192, 1, 8192}};
        std::size_t starts = 1;
        int device = 0, blockFrames = 2048;
        for (const auto& r : rows) {
            QString title;
            m_->dialogs.handler = [&](QDialog& dialog) {
                title = dialog.windowTitle();
                if (r.device >= 0)
                    dialog.findChild<QComboBox*>("deviceList")->setCurrentIndex(r.device);
                if (r.latency >= 0)
                    dialog.findChild<QSlider*>("latencySlider")->setValue(r.latency);
                QTest::mouseClick(dialog.findChild<QPushButton*>(r.button), Qt::LeftButton);
                return dialog.result();
            };
            click("settingsButton");
            QCOMPARE(title, QString("- Vexla - Settings"));
            if (r.blockFrames > 0) {
                ++starts;
                blockFrames = r.blockFrames;
                device = r.device >= 0 ? r.device : device;
            }
            QCOMPARE(m_->audio.starts.size(), starts);
            QCOMPARE(m_->audio.starts.back().blockFrames, blockFrames);
            QCOMPARE(m_->audio.starts.back().deviceIndex, device);
            QCOMPARE(m_->window->audioSettings().deviceIndex, device);
            QVERIFY(params().running.load(kRelaxed)); // playing goes on
        }
    }

    void settingsDcFilterSwitchesWithoutRestartingTheAudio() {
        click("runButton");
        bool shownTicked = true;
        m_->dialogs.handler = [&](QDialog& dialog) {
            auto* box = dialog.findChild<QCheckBox*>("dcFilterCheckBox");
            shownTicked = box->isChecked();
            box->setChecked(!shownTicked);
            QTest::mouseClick(dialog.findChild<QPushButton*>("okButton"), Qt::LeftButton);
            return dialog.result();
        };
        click("settingsButton");
        QVERIFY(!shownTicked);
        QCOMPARE(params().dcFilter.load(kRelaxed), 1);
        QCOMPARE(m_->audio.starts.size(), 1u); // the sound goes on: the filter glides in
        click("settingsButton");
        QVERIFY(shownTicked);
        QCOMPARE(params().dcFilter.load(kRelaxed), 0);
    }

    void settingsChooseTheClockAndJackWiringAndAreKeptForTheNextStart() {
        QSettings store(dir_.filePath("vexla.conf"), QSettings::IniFormat);
        m_->window->setSettingsStore(&store); // nothing kept yet: nothing changes
        QCOMPARE(m_->window->audioSettings().clockSource, common::ClockSource::Internal);
        QString shownClock;
        m_->dialogs.handler = [&](QDialog& dialog) {
            auto* clocks = dialog.findChild<QComboBox*>("clockList");
            shownClock = clocks->currentText();
            clocks->setCurrentIndex(clocks->findText("MIDI clock"));
            dialog.findChild<QCheckBox*>("autoConnectCheckBox")->setChecked(false);
            dialog.findChild<QComboBox*>("deviceList")->setCurrentIndex(2);
            dialog.findChild<QSlider*>("latencySlider")->setValue(4096);
            QTest::mouseClick(dialog.findChild<QPushButton*>("okButton"), Qt::LeftButton);
            return dialog.result();
        };
        click("settingsButton");
        QCOMPARE(shownClock, QString("Internal"));
        QCOMPARE(m_->audio.starts.size(), 2u);
        QVERIFY(!m_->audio.starts.back().autoConnect);
        QVERIFY(m_->audio.starts.back().midi != nullptr); // the engine's MIDI rides along
        QCOMPARE(m_->window->audioSettings().clockSource, common::ClockSource::MidiClock);

        // Following: the tempo shows the master's and the slider cannot fight it; a master wavering
        // within a frame of the shown step length leaves it (and the echo it sets) alone.
        QSlider* tempo = slider("tempoSlider");
        QVERIFY(!tempo->isEnabled());
        const std::int32_t echoBefore = m_->engine->echoReadPos();
        params().followedBpm.store(120.0f, kRelaxed);
        m_->window->refreshStatus();
        QCOMPARE(tempo->value(), 5512); // 44100 × 60 / (4 × 120) frames a step
        QCOMPARE(params().samplesPerStep.load(kRelaxed), 5512);
        QCOMPARE(find<QLabel>("tempoDisplay")->text(), QString("120.0"));
        QCOMPARE(m_->engine->echoReadPos(), echoBefore);
        params().followedBpm.store(120.01f, kRelaxed);
        m_->window->refreshStatus();
        QCOMPARE(tempo->value(), 5512);

        // The next start finds what was chosen; the command line's choice would then win.
        test::Machine next;
        next.window->setSettingsStore(&store);
        const AudioSettings kept = next.window->audioSettings();
        QCOMPARE(kept.deviceIndex, 2);
        QCOMPARE(kept.latencyFrames, 4096);
        QVERIFY(!kept.autoConnect);
        QCOMPARE(kept.clockSource, common::ClockSource::MidiClock);
        QVERIFY(!next.slider("tempoSlider")->isEnabled());
        next.window->setClockSource(common::ClockSource::Internal);
        QVERIFY(next.slider("tempoSlider")->isEnabled());
    }

    void settingsLatencyDisplay() {
        SettingsDialog opened(AudioSettings{}, m_->audio.devices);
        QCOMPARE(opened.findChild<QLabel*>("latencyDisplay")->text(), QString("86 ms"));
        QCOMPARE(opened.findChild<QComboBox*>("deviceList")->count(), 3);
        for (auto [frames, text] : {std::pair{1024, "63 ms"}, std::pair{8192, "225 ms"}}) {
            opened.findChild<QSlider*>("latencySlider")->setValue(frames);
            QCOMPARE(opened.findChild<QLabel*>("latencyDisplay")->text(), QString(text));
            QCOMPARE(opened.settings().latencyFrames, frames);
        }
        // Without devices the stored index is kept.
        SettingsDialog none(AudioSettings{4096, 1}, {});
        QCOMPARE(none.findChild<QComboBox*>("deviceList")->currentIndex(), -1);
        QCOMPARE(none.settings().deviceIndex, 1);
        QCOMPARE(none.findChild<QSlider*>("latencySlider")->value(), 4096);
    }

    void everyControlIsNamedAndTabMovesInReadingOrder() {
        for (QWidget* widget : m_->window->findChildren<QWidget*>()) {
            if (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QSlider*>(widget) ||
                qobject_cast<QLineEdit*>(widget)) {
                QVERIFY2(!widget->objectName().isEmpty(), qPrintable(widget->accessibleName()));
                QVERIFY2(!widget->accessibleName().isEmpty(), qPrintable(widget->objectName()));
            }
        }
        QCOMPARE(m_->window->findChildren<QSlider*>().size(), 17);
        QCOMPARE(slider("kickSlider")->accessibleName(), QString("Kick volume"));
        // Each voice's button, then its level; a looper's level, its loader, then its filter.
        const char* const chain[][2] = {
            {"kickButton", "kickSlider"},
            {"kickSlider", "bassline1Button"},
            {"vcfLooper1Slider", "vcfLooper1LoadButton"},
            {"vcfLooper1LoadButton", "vcfLooper1CutoffSlider"},
            {"vcfLooper1CutoffSlider", "vcfLooper1ResonanceSlider"},
            {"settingsButton", "aboutButton"},
        };
        for (const auto& link : chain) {
            QWidget* next = find<QWidget>(link[0])->nextInFocusChain();
            while (!(next->focusPolicy() & Qt::TabFocus))
                next = next->nextInFocusChain();
            QCOMPARE(next->objectName(), QString(link[1]));
        }
    }
};

QTEST_MAIN(LoopMachineWindowTest)
#include "LoopMachineWindowTest.moc"
