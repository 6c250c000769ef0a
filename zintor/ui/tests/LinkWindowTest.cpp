// The synthesiser's window following a Link session, with a peer in a process of its own: the BPM field
// and Set stay the user's (a MIDI clock takes them), a tempo set there reaches the session, the session's
// comes back to the field without being sent back, and Play starts the session. Skipped where the peers
// cannot find each other.
#include "zintor/ui/tests/WindowRig.h"

#include "common/link/tests/LinkPeerProcess.h"

#include <QLineEdit>
#include <QPushButton>

#include <cmath>

using namespace zintor;

class LinkWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void tempoAndPlayGoBothWaysWithoutAFight() {
        linktest::Peer peer(120.0);
        WindowRig rig;
        QVERIFY(rig.audio.source != nullptr);
        auto* bpm = rig.child<QLineEdit>("bpmEdit");
        auto* set = rig.child<QPushButton>("setButton");
        const auto render = [&](int blocks) {
            for (int i = 0; i < blocks; ++i) {
                rig.audio.renderOnce(2048);
                QTest::qWait(2);
            }
            rig.window->refreshFollowing();
        };

        rig.window->setClockSource(common::ClockSource::MidiClock);
        QVERIFY(!bpm->isEnabled() && !set->isEnabled()); // a MIDI clock leads alone
        rig.window->setClockSource(common::ClockSource::Link);
        QVERIFY(bpm->isEnabled() && set->isEnabled());
        if (const std::string why = peer.meet(); !why.empty())
            QSKIP(why.c_str());

        // A tempo set here becomes the session's.
        bpm->setText("97");
        QTest::mouseClick(set, Qt::LeftButton);
        render(4);
        QVERIFY(std::abs(peer.number("wait-tempo 97 5") - 97.0) < 0.01);

        // The peer's comes back to the field, and stays the session's: the whole BPM shown is not sent.
        QCOMPARE(peer.ask("tempo 140.37"), std::string("ok"));
        for (int i = 0; i < 500 && std::abs(rig.params().followedBpm.load() - 140.37) > 0.005; ++i)
            render(1);
        QCOMPARE(bpm->text(), QString("140"));
        render(20);
        QVERIFY(std::abs(peer.number("state", 1) - 140.37) < 0.001);

        // Play starts the session; the peer's stop stops ours.
        QTest::mouseClick(rig.child<QPushButton>("playButton"), Qt::LeftButton);
        render(2);
        QCOMPARE(peer.ask("wait-playing 1 5"), std::string("playing 1"));
        QCOMPARE(peer.ask("stop"), std::string("ok"));
        for (int i = 0; i < 500 && rig.params().masterPlaying.load(); ++i)
            render(1);
        QVERIFY(!rig.child<QPushButton>("playButton")->isChecked());
    }
};

QTEST_MAIN(LinkWindowTest)
#include "LinkWindowTest.moc"
