// The loop machine's window driven as a user would: control formulas, buttons, displays, samples,
// recording, settings and quitting, with the audio and every modal dialog faked.
#include "FakeServices.h"

#include "common/WavRecorder.h"
#include "vexla/controls/Controls.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/ui/LoopMachineWindow.h"
#include "vexla/ui/SettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <memory>
#include <vector>

using namespace vexla;
using vexla::test::FakeAudio;
using vexla::test::FakeDialogs;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

quint32 read32(const QByteArray& bytes, int at) {
    quint32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | quint8(bytes[at + i]);
    return v;
}

} // namespace

class LoopMachineWindowTest : public QObject {
    Q_OBJECT

  private:
    QStringList events_;
    std::unique_ptr<common::WavRecorder> recorder_;
    std::unique_ptr<LoopEngine> engine_;
    std::unique_ptr<FakeAudio> audio_;
    std::unique_ptr<FakeDialogs> dialogs_;
    std::unique_ptr<LoopMachineWindow> window_;
    QTemporaryDir dir_;

    template <typename T> T* find(const char* name) {
        T* widget = window_->findChild<T*>(QString::fromUtf8(name));
        if (widget == nullptr)
            qFatal("no control named %s", name);
        return widget;
    }
    QSlider* slider(const QString& name) { return find<QSlider>(name.toUtf8().constData()); }
    void click(const char* name) { QTest::mouseClick(find<QAbstractButton>(name), Qt::LeftButton); }
    EngineParams& params() { return engine_->params; }
    QString lampState() { return find<QLabel>("clipLamp")->accessibleDescription(); }

    // The render as the audio thread would run it, through what the window gave the audio output to play.
    void renderFrames(int frames) {
        QVERIFY2(audio_->playing != nullptr, "the window plays nothing");
        std::vector<std::int16_t> buffer(std::size_t(frames) * 2);
        audio_->playing->render(buffer.data(), frames);
    }

  private slots:
    void init() {
        events_.clear();
        recorder_ = std::make_unique<common::WavRecorder>();
        // The tests render far faster than real time: wait for the disk rather than drop frames.
        recorder_->setBlockingWhenFull(true);
        engine_ = std::make_unique<LoopEngine>();
        audio_ = std::make_unique<FakeAudio>();
        dialogs_ = std::make_unique<FakeDialogs>();
        audio_->events = &events_;
        dialogs_->events = &events_;
        window_ = std::make_unique<LoopMachineWindow>(*engine_, *recorder_, *audio_, *dialogs_, 1u);
        window_->start();
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }

    void cleanup() {
        window_.reset();
        if (recorder_->isRecording())
            recorder_->finish();
        engine_.reset();
        recorder_.reset();
    }

    void startsWithTheStartDialogThenTheAudio() {
        QCOMPARE(events_, (QStringList{"dialog startDialog", "audio start"}));
        QCOMPARE(audio_->starts.size(), 1u);
        QCOMPARE(audio_->starts[0].blockFrames, 2048);
        QCOMPARE(audio_->starts[0].latencyMilliseconds, 40);
        QCOMPARE(audio_->starts[0].deviceIndex, 0);
        QVERIFY(!params().running.load(kRelaxed));
        QCOMPARE(find<QLineEdit>("stepsEdit")->text(), QString("16"));
        QCOMPARE(window_->windowTitle().left(14), QString("- Vexla - R7 -"));
        QVERIFY(!window_->windowIcon().isNull());
    }

    void startDialogIsCentredOnTheScreen() {
        QPoint offCentre(1000, 1000);
        dialogs_->handler = [&](QDialog& dialog) {
            if (dialog.objectName() == "startDialog")
                offCentre = dialog.geometry().center() - dialog.screen()->availableGeometry().center();
            return int(QDialog::Accepted);
        };
        LoopMachineWindow window(*engine_, *recorder_, *audio_, *dialogs_, 7);
        window.start();
        QVERIFY2(offCentre.manhattanLength() <= 2,
                 qPrintable(QString("%1, %2").arg(offCentre.x()).arg(offCentre.y())));
    }

    void startDialogClosesEveryWay_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("Start") << 0 << int(QDialog::Accepted);
        QTest::newRow("Enter") << int(Qt::Key_Return) << int(QDialog::Accepted);
        QTest::newRow("Escape") << int(Qt::Key_Escape) << int(QDialog::Rejected);
    }

    void startDialogClosesEveryWay() {
        QFETCH(int, key);
        QFETCH(int, result);
        int seen = -1;
        dialogs_->handler = [&](QDialog& dialog) {
            if (dialog.objectName() != "startDialog")
                return int(QDialog::Accepted);
            if (key == 0)
                QTest::mouseClick(dialog.findChild<QPushButton*>("startButton"), Qt::LeftButton);
            else
                QTest::keyClick(&dialog, Qt::Key(key));
            seen = dialog.result();
            return seen;
        };
        LoopMachineWindow window(*engine_, *recorder_, *audio_, *dialogs_, 5u);
        window.start();
        QCOMPARE(seen, result);
        QCOMPARE(audio_->starts.size(), 2u); // the audio starts however the picture was closed
    }

    void layoutFollowsTheFont() {
        // Dialog units come from the font: a font twice the size gives a window about twice as large.
        QFont big = window_->font();
        big.setPointSizeF(big.pointSizeF() * 2);
        const QFont old = QApplication::font();
        QApplication::setFont(big);
        LoopMachineWindow large(*engine_, *recorder_, *audio_, *dialogs_, 5u);
        QApplication::setFont(old);
        const double ratio = double(large.width()) / window_->width();
        QVERIFY2(ratio > 1.7 && ratio < 2.3, qPrintable(QString::number(ratio)));
        const double tall = double(large.height()) / window_->height();
        QVERIFY2(tall > 1.7 && tall < 2.3, qPrintable(QString::number(tall)));
    }

    void firstShowAppliesEverySlider() {
        // Values clobbered before the window shows come back from the sliders when it does.
        LoopMachineWindow fresh(*engine_, *recorder_, *audio_, *dialogs_, 7u);
        params().kickVolume.store(-1.0f, kRelaxed);
        params().masterGain.store(-1.0f, kRelaxed);
        params().vcf2Gain.store(-1.0f, kRelaxed);
        params().vcf1Feedback.store(-1.0f, kRelaxed);
        params().samplesPerStep.store(1, kRelaxed);
        fresh.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fresh));
        const EngineParams defaults;
        QCOMPARE(params().kickVolume.load(kRelaxed), defaults.kickVolume.load(kRelaxed));
        QCOMPARE(params().masterGain.load(kRelaxed), 0.875f);
        QCOMPARE(params().vcf2Gain.load(kRelaxed), defaults.vcf2Gain.load(kRelaxed));
        QCOMPARE(params().vcf1Feedback.load(kRelaxed), 1.5f);
        QCOMPARE(params().samplesPerStep.load(kRelaxed), 5000);
        QCOMPARE(params().bass1Volume.load(kRelaxed), 2048.0f);
        QCOMPARE(params().bass2Volume.load(kRelaxed), 1024.0f);
        QCOMPARE(params().hatVolume.load(kRelaxed), 0.125f);
        QCOMPARE(params().sineVolume.load(kRelaxed), 0.125f);
        QCOMPARE(params().transpose.load(kRelaxed), 0);
    }

    void sliderFormula_data() {
        QTest::addColumn<QString>("slider");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("field");
        QTest::addColumn<double>("expected");
        const struct {
            const char* slider;
            const char* field;
            int start;
            double atStart, atZero, atTop;
        } rows[] = {
            {"kickSlider", "kickVolume", 64, 8192, 0, 16384},
            {"bassline1Slider", "bass1Volume", 16, 2048, 0, 16384},
            {"bassline2Slider", "bass2Volume", 8, 1024, 0, 16384},
            {"sineSlider", "sineVolume", 16, 0.125, 0, 1},
            {"hiHatsSlider", "hatVolume", 16, 0.125, 0, 1},
            {"dryLooperSlider", "dryLooperGain", 0, 0, 0, 1},
            {"secondLooperSlider", "secondLooperGain", 0, 0, 0, 1},
            {"slicerSlider", "slicerGain", 0, 0, 0, 1},
            {"vcfLooper1Slider", "vcf1Gain", 0, 0, 0, 1},
            {"vcfLooper2Slider", "vcf2Gain", 64, 0.5, 0, 1},
            {"masterSlider", "masterGain", 16, 0.875, 1, 0},
        };
        for (const auto& r : rows) {
            QTest::addRow("%s start", r.slider) << r.slider << r.start << r.field << r.atStart;
            QTest::addRow("%s 0", r.slider) << r.slider << 0 << r.field << r.atZero;
            QTest::addRow("%s 128", r.slider) << r.slider << 128 << r.field << r.atTop;
        }
        QTest::newRow("transpose start") << "transposeSlider" << 0 << "transpose" << 0.0;
        QTest::newRow("transpose -12") << "transposeSlider" << -12 << "transpose" << -12.0;
        QTest::newRow("transpose 12") << "transposeSlider" << 12 << "transpose" << 12.0;
        QTest::newRow("tempo start") << "tempoSlider" << 5000 << "samplesPerStep" << 5000.0;
        QTest::newRow("tempo 2000") << "tempoSlider" << 2000 << "samplesPerStep" << 2000.0;
        QTest::newRow("tempo 20000") << "tempoSlider" << 20000 << "samplesPerStep" << 20000.0;
    }

    void sliderFormula() {
        QFETCH(QString, slider);
        QFETCH(int, position);
        QFETCH(QString, field);
        QFETCH(double, expected);
        QSlider* control = this->slider(slider);
        // Move away and back, so that the start position is applied as a change too.
        control->setValue(position == control->minimum() ? control->maximum() : control->minimum());
        control->setValue(position);
        EngineParams& p = params();
        const std::map<QString, std::function<double()>> fields{
            {"kickVolume", [&] { return p.kickVolume.load(kRelaxed); }},
            {"bass1Volume", [&] { return p.bass1Volume.load(kRelaxed); }},
            {"bass2Volume", [&] { return p.bass2Volume.load(kRelaxed); }},
            {"sineVolume", [&] { return p.sineVolume.load(kRelaxed); }},
            {"hatVolume", [&] { return p.hatVolume.load(kRelaxed); }},
            {"dryLooperGain", [&] { return p.dryLooperGain.load(kRelaxed); }},
            {"secondLooperGain", [&] { return p.secondLooperGain.load(kRelaxed); }},
            {"slicerGain", [&] { return p.slicerGain.load(kRelaxed); }},
            {"vcf1Gain", [&] { return p.vcf1Gain.load(kRelaxed); }},
            {"vcf2Gain", [&] { return p.vcf2Gain.load(kRelaxed); }},
            {"masterGain", [&] { return p.masterGain.load(kRelaxed); }},
            {"transpose", [&] { return p.transpose.load(kRelaxed); }},
            {"samplesPerStep", [&] { return p.samplesPerStep.load(kRelaxed); }},
        };
        QCOMPARE(fields.at(field)(), expected);
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

    void tempoDisplay_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("text");
        QTest::newRow("start") << 5000 << "132.3";
        QTest::newRow("top") << 2000 << "330.7";
        QTest::newRow("bottom") << 20000 << "33.1";
    }

    void tempoDisplay() {
        QFETCH(int, position);
        QFETCH(QString, text);
        QSlider* tempo = slider("tempoSlider");
        tempo->setValue(10000);
        tempo->setValue(position);
        QCOMPARE(find<QLabel>("tempoDisplay")->text(), text);
        QCOMPARE(LoopMachineWindow::tempoText(position), text);
    }

    void filterSliders_data() {
        QTest::addColumn<int>("upper");
        QTest::addColumn<int>("lower");
        QTest::addColumn<float>("cutoff");
        QTest::addColumn<float>("feedback");
        QTest::newRow("start") << 64 << 64 << 0.5f << 1.5f;
        QTest::newRow("both at 0") << 0 << 0 << 0.05f << 0.05f + 0.05f / (1.0f - 0.05f);
        QTest::newRow("both at 128") << 128 << 128 << 0.95f << 0.95f + 0.95f / (1.0f - 0.95f);
        QTest::newRow("open, no resonance") << 128 << 0 << 0.95f << 0.05f + 0.05f / (1.0f - 0.95f);
        QTest::newRow("quarter") << 32 << 96 << 0.25f << 0.75f + 0.75f / 0.75f;
    }

    void filterSliders() {
        QFETCH(int, upper);
        QFETCH(int, lower);
        QFETCH(float, cutoff);
        QFETCH(float, feedback);
        // Looper 1 moves; looper 2 must keep its own values.
        slider("vcfLooper2CutoffSlider")->setValue(100);
        slider("vcfLooper2ResonanceSlider")->setValue(10);
        const float otherCutoff = params().vcf2Cutoff.load(kRelaxed);
        const float otherFeedback = params().vcf2Feedback.load(kRelaxed);
        slider("vcfLooper1CutoffSlider")->setValue(upper);
        slider("vcfLooper1ResonanceSlider")->setValue(lower);
        QCOMPARE(params().vcf1Cutoff.load(kRelaxed), cutoff);
        QCOMPARE(params().vcf1Feedback.load(kRelaxed), feedback);
        QCOMPARE(params().vcf2Cutoff.load(kRelaxed), otherCutoff);
        QCOMPARE(params().vcf2Feedback.load(kRelaxed), otherFeedback);
        // And the other way round.
        slider("vcfLooper2CutoffSlider")->setValue(upper);
        slider("vcfLooper2ResonanceSlider")->setValue(lower);
        QCOMPARE(params().vcf2Cutoff.load(kRelaxed), cutoff);
        QCOMPARE(params().vcf2Feedback.load(kRelaxed), feedback);
    }

    void setStep_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("steps");
        QTest::addColumn<QString>("shown");
        QTest::newRow("zero") << "0" << 3 << "3";
        QTest::newRow("nothing") << "" << 3 << "3";
        QTest::newRow("hundred") << "100" << 64 << "64";
        QTest::newRow("twelve") << "12" << 12 << "12";
        QTest::newRow("huge") << "99999999999999" << 64 << "64";
    }

    void setStep() {
        QFETCH(QString, typed);
        QFETCH(int, steps);
        QFETCH(QString, shown);
        auto* edit = find<QLineEdit>("stepsEdit");
        edit->clear();
        QTest::keyClicks(edit, typed);
        QCOMPARE(params().stepCount.load(kRelaxed), 16); // typing alone changes nothing
        click("setStepButton");
        QCOMPARE(params().stepCount.load(kRelaxed), steps);
        QCOMPARE(edit->text(), shown);
    }

    void stepsBoxTakesDigitsOnly() {
        auto* edit = find<QLineEdit>("stepsEdit");
        edit->clear();
        QTest::keyClicks(edit, "1x2");
        QCOMPARE(edit->text(), QString("12"));
    }

    void sequencePicksOneOfSixCounts() {
        const QSet<int> allowed{3, 8, 12, 16, 24, 32};
        QSet<int> seen;
        for (int press = 0; press < 60; ++press) {
            click("sequenceButton");
            const int steps = params().stepCount.load(kRelaxed);
            QVERIFY2(allowed.contains(steps), qPrintable(QString::number(steps)));
            QCOMPARE(find<QLineEdit>("stepsEdit")->text(), QString::number(steps));
            QVERIFY(engine_->requestPending(Request::Bass1));
            QVERIFY(engine_->requestPending(Request::Bass2));
            seen.insert(steps);
        }
        QVERIFY2(seen.size() >= 4, "the choice should vary from press to press");
    }

    void requestButtonsRaiseTheirFlag_data() {
        QTest::addColumn<QString>("button");
        QTest::newRow("Kick") << "kickButton";
        QTest::newRow("Bassline 1") << "bassline1Button";
        QTest::newRow("Bassline 2") << "bassline2Button";
        QTest::newRow("Sine") << "sineButton";
        QTest::newRow("HiHats") << "hiHatsButton";
    }

    void requestButtonsRaiseTheirFlag() {
        QFETCH(QString, button);
        const Request requests[] = {Request::Kick, Request::Bass1, Request::Bass2, Request::Sine,
                                    Request::Hats};
        const QStringList names{"kickButton", "bassline1Button", "bassline2Button", "sineButton",
                                "hiHatsButton"};
        click(button.toUtf8().constData());
        for (int i = 0; i < names.size(); ++i)
            QCOMPARE(engine_->requestPending(requests[i]), names[i] == button);
    }

    void runToggles() {
        auto* run = find<QPushButton>("runButton");
        click("runButton");
        QVERIFY(params().running.load(kRelaxed));
        QCOMPARE(run->text(), QString("Stop"));
        click("runButton");
        QVERIFY(!params().running.load(kRelaxed));
        QCOMPARE(run->text(), QString("Run"));
    }

    void clipLampStaysRedUntilClip() {
        QCOMPARE(lampState(), QString("Not clipped"));
        params().clipped.store(true, kRelaxed);
        QTRY_COMPARE_WITH_TIMEOUT(lampState(), QString("Clipped"), 1000); // the 50 ms timer
        QTest::qWait(3 * LoopMachineWindow::kLampTimerMs);
        QCOMPARE(lampState(), QString("Clipped"));
        click("clipButton");
        QVERIFY(!params().clipped.load(kRelaxed));
        QCOMPARE(lampState(), QString("Not clipped"));
    }

    void loadDisplayShowsTheServiceLoad() {
        QCOMPARE(find<QLabel>("recordingSizeDisplay")->text(), QString("---"));
        QTRY_COMPARE_WITH_TIMEOUT(find<QLabel>("cpuUsageDisplay")->text(), QString("3.14%"), 2000);
    }

    void recordingFromTheWindowGivesAValidFile() {
        const QString path = dir_.filePath("take.wav");
        dialogs_->saveAnswer = path;
        click("recordCheckBox");
        QVERIFY(find<QCheckBox>("recordCheckBox")->isChecked());
        QVERIFY(params().recording.load(kRelaxed));
        QCOMPARE(params().recordedBytes.load(kRelaxed), 0);

        click("runButton");
        const int frames = 262144; // exactly 1 MiB of frames
        renderFrames(frames);
        window_->refreshStatus();
        QCOMPARE(find<QLabel>("recordingSizeDisplay")->text(), QString("1.00 Mb."));
        QCOMPARE(find<QLabel>("cpuUsageDisplay")->text(), QString("3.14%"));

        click("recordCheckBox");
        QVERIFY(!params().recording.load(kRelaxed));
        QVERIFY(!find<QCheckBox>("recordCheckBox")->isChecked());
        window_->refreshStatus();
        QCOMPARE(find<QLabel>("recordingSizeDisplay")->text(), QString("---"));
        QVERIFY(dialogs_->errors.isEmpty());

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(bytes.size(), 44 + 4 * frames);
        QCOMPARE(bytes.left(4), QByteArray("RIFF"));
        QCOMPARE(read32(bytes, 4), quint32(36 + 4 * frames));
        QCOMPARE(bytes.mid(8, 4), QByteArray("WAVE"));
        QCOMPARE(read32(bytes, 40), quint32(4 * frames));
        // The engine plays: a take of pure silence would mean the tap recorded nothing real.
        bool sound = false;
        for (int i = 44; i < bytes.size() && !sound; ++i)
            sound = bytes[i] != 0;
        QVERIFY(sound);
    }

    void cancelledSaveDialogLeavesTheBoxUnticked() {
        dialogs_->saveAnswer.clear();
        click("recordCheckBox");
        QCOMPARE(dialogs_->saveDialogs, 1);
        QVERIFY(!find<QCheckBox>("recordCheckBox")->isChecked());
        QVERIFY(!params().recording.load(kRelaxed));
        QVERIFY(!recorder_->isRecording());
    }

    void uncreatableRecordingIsShownAndNothingRecords() {
        dialogs_->saveAnswer = dir_.filePath("no such folder/take.wav");
        click("recordCheckBox");
        QCOMPARE(dialogs_->errors.size(), 1);
        QVERIFY(dialogs_->errors[0].contains("take.wav"));
        QVERIFY(dialogs_->errors[0].section('\n', 1).trimmed().size() > 0); // the recorder's reason
        QVERIFY(!find<QCheckBox>("recordCheckBox")->isChecked());
        QVERIFY(!params().recording.load(kRelaxed));
        window_->refreshStatus();
        QCOMPARE(find<QLabel>("recordingSizeDisplay")->text(), QString("---"));
    }

    void aRecordingThatStopsByItselfIsReported() {
        // A recorder whose file may hold only 1000 frames: the window must notice it stopped.
        common::WavRecorder small(4096, 4000);
        LoopMachineWindow window(*engine_, small, *audio_, *dialogs_, 3u);
        auto* box = window.findChild<QCheckBox*>("recordCheckBox");
        dialogs_->saveAnswer = dir_.filePath("short.wav");
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(box->isChecked());
        renderFrames(3000);
        QTRY_VERIFY_WITH_TIMEOUT((window.refreshStatus(), !box->isChecked()), 5000);
        QVERIFY(!params().recording.load(kRelaxed));
        QCOMPARE(dialogs_->errors.size(), 1);
        QVERIFY(dialogs_->errors[0].contains("size"));
        QCOMPARE(QFileInfo(dir_.filePath("short.wav")).size(), 44 + 4000);
    }

    void loadedSampleIsNamedAndARejectedOneKeepsIt() {
        const QString good = dir_.filePath("break.wav");
        QFile goodFile(good);
        QVERIFY(goodFile.open(QIODevice::WriteOnly));
        goodFile.write(test::makeRampWav(7, 1000));
        goodFile.close();
        const QString bad = dir_.filePath("notes.wav");
        QFile badFile(bad);
        QVERIFY(badFile.open(QIODevice::WriteOnly));
        badFile.write("this is a shopping list, not a sound\n");
        badFile.close();

        dialogs_->openAnswers = {good};
        click("dryLooperLoadButton");
        QVERIFY(dialogs_->errors.isEmpty());
        engine_->settleChanges(); // the render swaps a sample in at its next block; none runs here
        QCOMPARE(engine_->drySlot.length, 1000);
        QCOMPARE(find<QLabel>("dryLooperSampleName")->text(), QString("break.wav"));

        dialogs_->openAnswers = {bad};
        click("dryLooperLoadButton");
        QCOMPARE(dialogs_->errors.size(), 1);
        QVERIFY(dialogs_->errors[0].contains("notes.wav"));
        engine_->settleChanges();
        QCOMPARE(engine_->drySlot.length, 1000);
        QCOMPARE(engine_->drySlot.left[10], qint16(70));
        QCOMPARE(find<QLabel>("dryLooperSampleName")->text(), QString("break.wav"));

        // A cancelled dialog loads nothing and says nothing.
        click("slicerLoadButton");
        QCOMPARE(dialogs_->errors.size(), 1);
        QCOMPARE(engine_->slicerSlot.length, 0);
    }

    void eachLoaderFillsItsOwnSlot_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("slot");
        QTest::newRow("dry") << "dryLooperLoadButton" << 0;
        QTest::newRow("2nd") << "secondLooperLoadButton" << 1;
        QTest::newRow("slicer") << "slicerLoadButton" << 2;
        QTest::newRow("vcf 1") << "vcfLooper1LoadButton" << 3;
        QTest::newRow("vcf 2") << "vcfLooper2LoadButton" << 4;
    }

    void eachLoaderFillsItsOwnSlot() {
        QFETCH(QString, button);
        QFETCH(int, slot);
        const QString path = dir_.filePath("loop.wav");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(test::makeRampWav(7, 321));
        file.close();
        dialogs_->openAnswers = {path};
        click(button.toUtf8().constData());
        engine_->settleChanges(); // the render swaps a sample in at its next block; none runs here
        const SampleSlot* sampleSlots[] = {&engine_->drySlot, &engine_->secondSlot, &engine_->slicerSlot,
                                           &engine_->vcf1Slot, &engine_->vcf2Slot};
        for (int i = 0; i < 5; ++i)
            QCOMPARE(sampleSlots[i]->length, i == slot ? 321 : 0);
    }

    void noAtTheExitQuestionKeepsEverythingRunning() {
        dialogs_->saveAnswer = dir_.filePath("kept.wav");
        click("recordCheckBox");
        click("runButton");
        dialogs_->quitAnswer = false;
        click("exitButton");
        QCOMPARE(dialogs_->questions, QStringList{"Exit confirmation: Are u sure to quit Vexla?"});
        QVERIFY(window_->isVisible());
        QCOMPARE(audio_->stops, 0);
        QVERIFY(params().running.load(kRelaxed));
        QVERIFY(params().recording.load(kRelaxed));
        QVERIFY(recorder_->isRecording());

        // The close box asks the same question.
        window_->close();
        QCOMPARE(dialogs_->questions.size(), 2);
        QVERIFY(window_->isVisible());
    }

    void yesStopsTheAudioThenCompletesTheRecording() {
        const QString path = dir_.filePath("last.wav");
        dialogs_->saveAnswer = path;
        click("recordCheckBox");
        click("runButton");
        renderFrames(4410);
        dialogs_->quitAnswer = true;
        click("exitButton");
        QVERIFY(!window_->isVisible());
        QCOMPARE(window_->result(), int(QDialog::Accepted));
        QCOMPARE(events_.filter("audio").last(), QString("audio stop"));
        QVERIFY(!params().recording.load(kRelaxed));
        QVERIFY(!recorder_->isRecording());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(bytes.size(), 44 + 4 * 4410);
        QCOMPARE(read32(bytes, 40), quint32(4 * 4410));
    }

    void enterAndEscapeDoNothing() {
        for (const char* focus : {"exitButton", "sequenceButton", "stepsEdit", "tempoSlider"}) {
            QWidget* widget = find<QWidget>(focus);
            widget->setFocus();
            const int steps = params().stepCount.load(kRelaxed);
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
                QTest::keyClick(widget, key);
            QVERIFY2(window_->isVisible(), focus);
            QCOMPARE(params().stepCount.load(kRelaxed), steps);
        }
        QVERIFY(dialogs_->questions.isEmpty());
    }

    void aboutFromTheButtonAndTheMenu() {
        click("aboutButton");
        auto* action = window_->findChild<QAction*>("aboutAction");
        QVERIFY(action != nullptr);
        QCOMPARE(action->text(), QString("About Vexla"));
        action->trigger();
        QCOMPARE(events_.filter("aboutDialog").size(), 2);
    }

    void settingsCancelChangesNothing() {
        QString title;
        dialogs_->handler = [&title](QDialog& dialog) {
            title = dialog.windowTitle();
            dialog.findChild<QComboBox*>("deviceList")->setCurrentIndex(2);
            dialog.findChild<QSlider*>("latencySlider")->setValue(8192);
            QTest::mouseClick(dialog.findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
            return dialog.result();
        };
        click("settingsButton");
        QCOMPARE(title, QString("- Vexla - Settings"));
        QCOMPARE(audio_->starts.size(), 1u);
        QCOMPARE(window_->audioSettings().deviceIndex, 0);
        QCOMPARE(window_->audioSettings().latencyFrames, 2048);
    }

    void settingsOkRestartsTheAudio_data() {
        QTest::addColumn<int>("latency");
        QTest::addColumn<int>("device");
        QTest::addColumn<int>("streamBytes");
        QTest::newRow("unchanged") << -1 << -1 << 8192;
        QTest::newRow("shortest") << 1024 << -1 << 4096;
        QTest::newRow("longest") << 8192 << 1 << 32768;
    }

    void settingsOkRestartsTheAudio() {
        QFETCH(int, latency);
        QFETCH(int, device);
        QFETCH(int, streamBytes);
        click("runButton");
        dialogs_->handler = [&](QDialog& dialog) {
            if (device >= 0)
                dialog.findChild<QComboBox*>("deviceList")->setCurrentIndex(device);
            if (latency >= 0)
                dialog.findChild<QSlider*>("latencySlider")->setValue(latency);
            QTest::mouseClick(dialog.findChild<QPushButton*>("okButton"), Qt::LeftButton);
            return dialog.result();
        };
        click("settingsButton");
        QCOMPARE(audio_->starts.size(), 2u);
        QCOMPARE(audio_->starts[1].blockFrames * 4, streamBytes);
        QCOMPARE(audio_->starts[1].deviceIndex, device >= 0 ? device : 0);
        QCOMPARE(window_->audioSettings().deviceIndex, device >= 0 ? device : 0);
        QVERIFY(params().running.load(kRelaxed)); // playing goes on
    }

    void settingsDcFilterSwitchesWithoutRestartingTheAudio() {
        click("runButton");
        bool shownTicked = true;
        dialogs_->handler = [&](QDialog& dialog) {
            auto* box = dialog.findChild<QCheckBox*>("dcFilterCheckBox");
            shownTicked = box->isChecked();
            box->setChecked(!shownTicked);
            QTest::mouseClick(dialog.findChild<QPushButton*>("okButton"), Qt::LeftButton);
            return dialog.result();
        };
        click("settingsButton");
        QVERIFY(!shownTicked);
        QCOMPARE(params().dcFilter.load(kRelaxed), 1);
        QCOMPARE(audio_->starts.size(), 1u); // the sound goes on: the filter glides in
        click("settingsButton");
        QVERIFY(shownTicked);
        QCOMPARE(params().dcFilter.load(kRelaxed), 0);
    }

    void settingsLatencyDisplay_data() {
        QTest::addColumn<int>("frames");
        QTest::addColumn<QString>("text");
        QTest::newRow("1024") << 1024 << "63 ms";
        QTest::newRow("2048") << 2048 << "86 ms";
        QTest::newRow("8192") << 8192 << "225 ms";
    }

    void settingsLatencyDisplay() {
        QFETCH(int, frames);
        QFETCH(QString, text);
        SettingsDialog opened(AudioSettings{}, audio_->devices);
        QCOMPARE(opened.findChild<QLabel*>("latencyDisplay")->text(), QString("86 ms"));
        QCOMPARE(opened.findChild<QComboBox*>("deviceList")->count(), 3);
        QCOMPARE(opened.findChild<QComboBox*>("deviceList")->currentIndex(), 0);
        opened.findChild<QSlider*>("latencySlider")->setValue(frames);
        QCOMPARE(opened.findChild<QLabel*>("latencyDisplay")->text(), text);
        QCOMPARE(opened.settings().latencyFrames, frames);
    }

    void settingsWithoutDevicesKeepTheIndex() {
        SettingsDialog dialog(AudioSettings{4096, 1}, {});
        QCOMPARE(dialog.findChild<QComboBox*>("deviceList")->currentIndex(), -1);
        QCOMPARE(dialog.settings().deviceIndex, 1);
        QCOMPARE(dialog.settings().latencyFrames, 4096);
        QCOMPARE(dialog.findChild<QSlider*>("latencySlider")->value(), 4096);
    }

    void everyControlIsNamedForAccessibility() {
        for (QWidget* widget : window_->findChildren<QWidget*>()) {
            if (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QSlider*>(widget) ||
                qobject_cast<QLineEdit*>(widget)) {
                QVERIFY2(!widget->objectName().isEmpty(), qPrintable(widget->accessibleName()));
                QVERIFY2(!widget->accessibleName().isEmpty(), qPrintable(widget->objectName()));
            }
        }
        QCOMPARE(window_->findChildren<QSlider*>().size(), 17);
        QCOMPARE(slider("kickSlider")->accessibleName(), QString("Kick volume"));
    }

    void layoutKeepsControlsInsideTheWindow() {
        const QRect inside = window_->rect();
        for (QWidget* widget : window_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            QVERIFY2(inside.contains(widget->geometry()), qPrintable(widget->objectName()));
        // Rows stack downwards in the order of the layout.
        QVERIFY(find<QWidget>("kickSlider")->y() < find<QWidget>("bassline1Slider")->y());
        QVERIFY(find<QWidget>("slicerSlider")->y() < find<QWidget>("vcfLooper1Slider")->y());
        QVERIFY(find<QWidget>("vcfLooper2Slider")->y() < find<QWidget>("transposeSlider")->y());
        QVERIFY(find<QWidget>("tempoSlider")->x() > find<QWidget>("masterSlider")->x());
    }

    void everyTableRowHasItsSlider() {
        // The window builds its sliders from the control table: range, start position, accessible name,
        // and a move stores the row's mapping.
        for (const Control& c : controls()) {
            if (c.widget != ControlWidget::Slider)
                continue;
            QSlider* s = slider(c.objectName);
            QCOMPARE(s->minimum(), c.lowestPosition);
            QCOMPARE(s->maximum(), c.highestPosition);
            QCOMPARE(s->value(), c.startPosition);
            QCOMPARE(s->accessibleName(), QString(c.caption));
            s->setValue(c.lowestPosition);
            s->setValue(c.highestPosition);
            const Control* partner = findControl(c.partnerName);
            const float partnerValue = partner ? float(partner->access.load(params())) : 0.0f;
            QCOMPARE(float(c.access.load(params())), c.value(c.highestPosition, partnerValue));
        }
    }

    void tabMovesInReadingOrder() {
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
