// The window as a screen reader or an automation tool reaches it: check boxes act on their state however
// it changes, the displays whose text changes are read with that text, and the stream starts on the
// device the program was given. Every modal dialog is faked.
#include "FakeServices.h"

#include "common/tests/Accessible.h"
#include "vexla/ui/SettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace vexla;
using accessible::Flip;
using accessible::readName;

Q_DECLARE_METATYPE(Flip)

class AccessibilityTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::Machine> m_;
    QTemporaryDir dir_;

    QCheckBox* recordBox() { return m_->find<QCheckBox>("recordCheckBox"); }
    void render(int frames) {
        std::vector<std::int16_t> buffer(std::size_t(frames) * 2);
        m_->audio.playing->render(buffer.data(), frames);
    }

  private slots:
    void init() {
        m_ = std::make_unique<test::Machine>();
        m_->recorder->setBlockingWhenFull(true); // the test renders faster than real time
    }
    void cleanup() { m_.reset(); }

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
        const QString path = dir_.filePath(QStringLiteral("take.wav"));
        m_->dialogs.saveAnswer = path;
        flip(recordBox());
        QVERIFY(recordBox()->isChecked());
        QVERIFY(m_->params().recording.load());
        m_->params().running.store(true);
        render(1000);
        m_->window->refreshStatus();
        auto* size = m_->find<QLabel>("recordingSizeDisplay");
        QVERIFY(size->text() != QStringLiteral("---"));
        QCOMPARE(readName(size), size->text());

        flip(recordBox());
        QCOMPARE(readName(size), QStringLiteral("---"));
        QVERIFY(!recordBox()->isChecked());
        QVERIFY(!m_->params().recording.load());
        QCOMPARE(m_->dialogs.saveDialogs, 1);
        QVERIFY(m_->dialogs.errors.isEmpty());
        QCOMPARE(QFileInfo(path).size(), 44 + 4 * 1000); // finished: the header counts every frame
    }

    void cancelledOrFailedRecordingUnticksWithoutAskingAgain_data() {
        accessible::addCancelledOrFailedRecordingRows();
    }

    void cancelledOrFailedRecordingUnticksWithoutAskingAgain() {
        QFETCH(QString, answer);
        QFETCH(int, errors);
        m_->dialogs.saveAnswer = answer.isEmpty() ? answer : dir_.filePath(answer);
        QSignalSpy toggles(recordBox(), &QCheckBox::toggled);
        accessible::toggle(recordBox());
        QVERIFY(!recordBox()->isChecked());
        QVERIFY(!m_->params().recording.load());
        QVERIFY(!m_->recorder->isRecording());
        // The window's own untick is not taken for the user's: one dialog, at most one error.
        QCOMPARE(m_->dialogs.saveDialogs, 1);
        QCOMPARE(m_->dialogs.errors.size(), errors);
        if (errors > 0) { // the file and the recorder's reason
            QVERIFY(m_->dialogs.errors[0].contains("take.wav"));
            QVERIFY(!m_->dialogs.errors[0].section('\n', 1).trimmed().isEmpty());
        }
        QCOMPARE(toggles.size(), 1);
        QCOMPARE(readName(m_->find<QLabel>("recordingSizeDisplay")), QStringLiteral("---"));
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
        LoopMachineWindow window(*m_->engine, *m_->recorder, m_->audio, dialogs, 2u);
        dialogs.box = window.findChild<QCheckBox*>(QStringLiteral("recordCheckBox"));
        dialogs.box->setChecked(true);
        QCOMPARE(dialogs.asked, 1);
        QVERIFY(!dialogs.box->isChecked());
        QVERIFY(!m_->params().recording.load());
        QVERIFY(!m_->recorder->isRecording());
        QVERIFY(!QFileInfo::exists(dialogs.path));
    }

    void runIsToggledAndNamedByItsCaption() {
        auto* run = m_->find<QPushButton>("runButton");
        accessible::toggle(run);
        QVERIFY(m_->params().running.load());
        QCOMPARE(readName(run), QStringLiteral("Stop"));
        accessible::toggle(run);
        QVERIFY(!m_->params().running.load());
        QCOMPARE(readName(run), QStringLiteral("Run"));
    }

    void changingDisplaysAreReadWithTheirText() {
        auto* tempo = m_->find<QLabel>("tempoDisplay");
        const QString tempoBefore = tempo->text();
        m_->slider("tempoSlider")->setValue(2000);
        QVERIFY(tempo->text() != tempoBefore);
        QCOMPARE(readName(tempo), tempo->text());
        QCOMPARE(accessible::of(tempo)->text(QAccessible::Description),
                 QStringLiteral("Tempo in beats per minute"));
        auto* cpu = m_->find<QLabel>("cpuUsageDisplay");
        QTRY_COMPARE_WITH_TIMEOUT(readName(cpu), QStringLiteral("3.14%"), 2000);
        QCOMPARE(accessible::of(cpu)->text(QAccessible::Description), QStringLiteral("Cpu usage"));
    }

    void everyLabelIsReadAsItShows() {
        // A fixed accessible name on a label hides its text from a screen reader; only a picture (the
        // clip lamp) is named instead, and says its state in its description.
        const auto check = [](QWidget* top) {
            for (QLabel* label : top->findChildren<QLabel*>())
                if (label->pixmap().isNull())
                    QCOMPARE(readName(label), label->text().remove(QLatin1Char('&')));
        };
        check(m_->window.get());
        SettingsDialog settings(m_->window->audioSettings(), m_->audio.deviceNames());
        auto* latency = settings.findChild<QSlider*>(QStringLiteral("latencySlider"));
        latency->setValue(latency->maximum());
        check(&settings);
    }

    void streamStartsOnTheGivenDeviceAndSettingsShowIt() {
        LoopMachineWindow window(*m_->engine, *m_->recorder, m_->audio, m_->dialogs, 3u);
        window.setDeviceIndex(2);
        window.start();
        QCOMPARE(m_->audio.starts.back().deviceIndex, 2);
        int shown = -1;
        m_->dialogs.handler = [&shown](QDialog& dialog) {
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
