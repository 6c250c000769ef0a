// The window as a screen reader or an automation tool reaches it: check boxes act on their state however
// it changes, the displays whose text changes are read with that text, and the stream starts on the
// device the program was given. Every modal dialog is faked.
#include "FakeServices.h"

#include "common/tests/Accessible.h"

#include "common/WavRecorder.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/ui/LoopMachineWindow.h"
#include "vexla/ui/SettingsDialog.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>
#include <vector>

using namespace vexla;
using vexla::test::FakeAudio;
using vexla::test::FakeDialogs;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

using accessible::Flip;
using accessible::readName;

} // namespace

Q_DECLARE_METATYPE(Flip)

class AccessibilityTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<common::WavRecorder> recorder_;
    std::unique_ptr<LoopEngine> engine_;
    std::unique_ptr<FakeAudio> audio_;
    std::unique_ptr<FakeDialogs> dialogs_;
    std::unique_ptr<LoopMachineWindow> window_;
    QStringList events_;
    QTemporaryDir dir_;

    template <typename T> T* find(const char* name) {
        T* widget = window_->findChild<T*>(QString::fromUtf8(name));
        if (widget == nullptr)
            qFatal("no control named %s", name);
        return widget;
    }
    EngineParams& params() { return engine_->params; }
    void render(int frames) {
        std::vector<std::int16_t> buffer(std::size_t(frames) * 2);
        audio_->playing->render(buffer.data(), frames);
    }

  private slots:
    void init() {
        events_.clear();
        recorder_ = std::make_unique<common::WavRecorder>();
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

    void recordBoxActsHoweverItIsTicked_data() {
        QTest::addColumn<Flip>("flip");
        QTest::newRow("screen reader's Toggle") << Flip(accessible::toggle);
        QTest::newRow("mouse") << Flip([](QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton); });
        QTest::newRow("Space") << Flip([](QAbstractButton* b) {
            b->setFocus();
            QTest::keyClick(b, Qt::Key_Space);
        });
        QTest::newRow("setChecked") << Flip([](QAbstractButton* b) { b->setChecked(!b->isChecked()); });
        QTest::newRow("toggle") << Flip([](QAbstractButton* b) { b->toggle(); });
    }

    void recordBoxActsHoweverItIsTicked() {
        QFETCH(Flip, flip);
        auto* box = find<QCheckBox>("recordCheckBox");
        const QString path = dir_.filePath(QStringLiteral("take.wav"));
        dialogs_->saveAnswer = path;
        flip(box);
        QCOMPARE(dialogs_->saveDialogs, 1);
        QVERIFY(box->isChecked());
        QVERIFY(params().recording.load(kRelaxed));
        params().running.store(true, kRelaxed);
        render(1000);

        flip(box);
        QVERIFY(!box->isChecked());
        QVERIFY(!params().recording.load(kRelaxed));
        QCOMPARE(dialogs_->saveDialogs, 1);
        QVERIFY(dialogs_->errors.isEmpty());
        QCOMPARE(QFileInfo(path).size(), 44 + 4 * 1000); // finished: the header counts every frame
    }

    void cancelledOrFailedRecordingUnticksWithoutAskingAgain_data() {
        accessible::addCancelledOrFailedRecordingRows();
    }

    void cancelledOrFailedRecordingUnticksWithoutAskingAgain() {
        QFETCH(QString, answer);
        QFETCH(int, errors);
        auto* box = find<QCheckBox>("recordCheckBox");
        dialogs_->saveAnswer = answer.isEmpty() ? answer : dir_.filePath(answer);
        QSignalSpy toggles(box, &QCheckBox::toggled);
        accessible::toggle(box);
        QVERIFY(!box->isChecked());
        QVERIFY(!params().recording.load(kRelaxed));
        QVERIFY(!recorder_->isRecording());
        // The window's own untick is not taken for the user's: one dialog, at most one error.
        QCOMPARE(dialogs_->saveDialogs, 1);
        QCOMPARE(dialogs_->errors.size(), errors);
        QCOMPARE(toggles.size(), 1);
        QCOMPARE(readName(find<QLabel>("recordingSizeDisplay")), QStringLiteral("---"));
    }

    void boxUntickedWhileTheDialogIsOpenRecordsNothing() {
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
        LoopMachineWindow window(*engine_, *recorder_, *audio_, dialogs, 2u);
        dialogs.box = window.findChild<QCheckBox*>(QStringLiteral("recordCheckBox"));
        dialogs.box->setChecked(true);
        QCOMPARE(dialogs.asked, 1);
        QVERIFY(!dialogs.box->isChecked());
        QVERIFY(!params().recording.load(kRelaxed));
        QVERIFY(!recorder_->isRecording());
        QVERIFY(!QFileInfo::exists(dialogs.path));
    }

    void runIsToggledAndNamedByItsCaption() {
        auto* run = find<QPushButton>("runButton");
        accessible::toggle(run);
        QVERIFY(params().running.load(kRelaxed));
        QCOMPARE(run->text(), QStringLiteral("Stop"));
        QCOMPARE(readName(run), QStringLiteral("Stop"));
        accessible::toggle(run);
        QVERIFY(!params().running.load(kRelaxed));
        QCOMPARE(readName(run), QStringLiteral("Run"));
    }

    void changingDisplaysAreReadWithTheirText() {
        auto* tempo = find<QLabel>("tempoDisplay");
        auto* size = find<QLabel>("recordingSizeDisplay");
        auto* cpu = find<QLabel>("cpuUsageDisplay");
        const QString tempoBefore = tempo->text();
        auto* tempoSlider = find<QSlider>("tempoSlider");
        tempoSlider->setValue(tempoSlider->value() == tempoSlider->minimum() ? tempoSlider->maximum()
                                                                             : tempoSlider->minimum());
        QVERIFY(tempo->text() != tempoBefore);
        QCOMPARE(readName(tempo), tempo->text());
        QCOMPARE(accessible::of(tempo)->text(QAccessible::Description),
                 QStringLiteral("Tempo in beats per minute"));

        dialogs_->saveAnswer = dir_.filePath(QStringLiteral("size.wav"));
        find<QCheckBox>("recordCheckBox")->setChecked(true);
        params().running.store(true, kRelaxed);
        render(262144); // 1 MiB
        window_->refreshStatus();
        QCOMPARE(size->text(), QStringLiteral("1.00 Mb."));
        QCOMPARE(readName(size), size->text());
        QCOMPARE(readName(cpu), QStringLiteral("3.14%"));
        QCOMPARE(accessible::of(cpu)->text(QAccessible::Description), QStringLiteral("Cpu usage"));
        find<QCheckBox>("recordCheckBox")->setChecked(false);
        QCOMPARE(readName(size), QStringLiteral("---"));
    }

    void everyLabelIsReadAsItShows() {
        // A fixed accessible name on a label hides its text from a screen reader; only a picture (the
        // clip lamp) is named instead, and says its state in its description.
        const auto check = [](QWidget* top) {
            for (QLabel* label : top->findChildren<QLabel*>()) {
                if (!label->pixmap().isNull())
                    continue;
                QCOMPARE(readName(label), label->text().remove(QLatin1Char('&')));
            }
        };
        check(window_.get());
        SettingsDialog settings(window_->audioSettings(), audio_->deviceNames());
        auto* latency = settings.findChild<QSlider*>(QStringLiteral("latencySlider"));
        latency->setValue(latency->maximum());
        check(&settings);
        auto* display = settings.findChild<QLabel*>(QStringLiteral("latencyDisplay"));
        QVERIFY(readName(display).endsWith(QStringLiteral(" ms")));
    }

    void streamStartsOnTheGivenDeviceAndSettingsShowIt() {
        LoopMachineWindow window(*engine_, *recorder_, *audio_, *dialogs_, 3u);
        window.setDeviceIndex(2);
        window.start();
        QCOMPARE(audio_->starts.back().deviceIndex, 2);
        int shown = -1;
        dialogs_->handler = [&shown](QDialog& dialog) {
            if (auto* list = dialog.findChild<QComboBox*>(QStringLiteral("deviceList")))
                shown = list->currentIndex();
            return int(QDialog::Rejected);
        };
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("settingsButton")), Qt::LeftButton);
        QCOMPARE(shown, 2);
    }
};

QTEST_MAIN(AccessibilityTest)
#include "AccessibilityTest.moc"
