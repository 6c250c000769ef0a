// The synth window as a screen reader or an automation tool reaches it: "Play" and "Record to wav" act
// on their state however it changes, the labels whose text changes are read with that text, and the
// stream starts on the device the program was given. Audio and dialogs are faked.
#include "common/tests/Accessible.h"
#include "zintor/engine/SynthEngine.h"
#include "zintor/ui/SynthWindow.h"
#include "zintor/ui/tests/WindowRig.h"

#include <QAccessible>
#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace zintor;

namespace {

using accessible::Flip;
using accessible::readName;

using Rig = WindowRig;

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT
  private slots:
    void buttonsActHoweverTheyAreFlipped_data() { accessible::addFlipRows(); }

    void buttonsActHoweverTheyAreFlipped() {
        QFETCH(Flip, flip);
        Rig rig;
        auto* play = rig.child<QPushButton>("playButton");
        auto* status = rig.child<QLabel>("statusLabel");
        flip(play);
        QVERIFY(rig.engine->params.playing.load());
        QCOMPARE(readName(status), QStringLiteral("Playing..."));

        auto* box = rig.child<QCheckBox>("recordCheckBox");
        const QString path = rig.file("take.wav");
        rig.boxes.savePath = path;
        flip(box);
        QCOMPARE(rig.boxes.asked, QStringList{"Record to wav"});
        QVERIFY(box->isChecked());
        for (int i = 0; i < 10; ++i)
            rig.audio.renderOnce(4000); // 1000 frames each
        flip(box);
        QVERIFY(!box->isChecked());
        QCOMPARE(rig.boxes.asked.size(), 1);
        QVERIFY(rig.boxes.shown.isEmpty());
        QCOMPARE(QFileInfo(path).size(), 44 + 4 * 10000); // finished: the header counts every frame

        flip(play);
        QVERIFY(!rig.engine->params.playing.load());
        QCOMPARE(readName(status), QStringLiteral("Stopped..."));
    }

    void cancelledOrFailedRecordingUnticksWithoutAskingAgain_data() {
        accessible::addCancelledOrFailedRecordingRows();
    }

    void cancelledOrFailedRecordingUnticksWithoutAskingAgain() {
        QFETCH(QString, answer);
        QFETCH(int, errors);
        Rig rig;
        auto* box = rig.child<QCheckBox>("recordCheckBox");
        rig.boxes.savePath = answer.isEmpty() ? answer : rig.dir.filePath(answer);
        QSignalSpy toggles(box, &QCheckBox::toggled);
        accessible::toggle(box);
        QVERIFY(!box->isChecked());
        QCOMPARE(rig.boxes.asked.size(), 1);
        QCOMPARE(rig.boxes.shown.size(), errors);
        QCOMPARE(toggles.size(), 1); // the window's own untick is not taken for the user's
        rig.audio.renderOnce(4000);  // no recorder to hand frames to
        QCOMPARE(readName(rig.child<QLabel>("recordSizeLabel")), QStringLiteral("---"));
    }

    void changingLabelsAreReadWithTheirText() {
        Rig rig;
        auto* status = rig.child<QLabel>("statusLabel");
        auto* bpm = rig.child<QLineEdit>("bpmEdit");
        bpm->setText(QStringLiteral("831"));
        rig.window->applyTempoText();
        QCOMPARE(status->text(), QStringLiteral("Set to 831"));
        QCOMPARE(readName(status), status->text());
        QCOMPARE(accessible::of(status)->text(QAccessible::Description), QStringLiteral("Status"));

        rig.audio.cpu = 12.5f;
        rig.window->refreshCpuLabel();
        QCOMPARE(readName(rig.child<QLabel>("cpuLabel")), QStringLiteral("cpu: 12.5%"));

        rig.engine->params.stepCount.store(100);
        rig.engine->params.playingStep.store(70);
        rig.window->refreshMeters();
        QCOMPARE(readName(rig.child<QLabel>("stepPageLabel")), QStringLiteral("Steps 65-100 of 100"));

        rig.boxes.savePath = rig.file("size.wav");
        rig.child<QCheckBox>("recordCheckBox")->setChecked(true);
        QCOMPARE(readName(rig.child<QLabel>("recordSizeLabel")), QStringLiteral("0.00 Mb."));
        rig.child<QCheckBox>("recordCheckBox")->setChecked(false);

        // A fixed accessible name on a label would hide its text from a screen reader.
        for (QLabel* label : rig.window->findChildren<QLabel*>())
            QCOMPARE(readName(label), label->text().remove(QLatin1Char('&')));
    }

    void streamStartsOnTheGivenDevice() {
        Rig rig(true, 2);
        QCOMPARE(rig.audio.calls.first(), QStringLiteral("start"));
        QCOMPARE(rig.audio.settings.deviceIndex, 2);
        QCOMPARE(rig.audio.settings.blockFrames, 1000);
        QCOMPARE(rig.audio.settings.latencyMilliseconds, 50);
    }
};

QTEST_MAIN(AccessibilityTest)
#include "AccessibilityTest.moc"
