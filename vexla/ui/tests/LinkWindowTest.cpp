// The loop machine's window following a Link session, with a peer in a process of its own: the tempo
// slider stays the user's (a MIDI clock takes it), its moves reach the session, and the session's tempo
// comes back to it without being sent back, and a scene opened brings its tempo. Skipped where the peers
// cannot find each other.
#include "FakeServices.h"

#include "common/link/tests/LinkPeerProcess.h"

#include <QSlider>
#include <QTemporaryDir>

#include <cmath>

using namespace vexla;

class LinkWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void tempoGoesBothWaysWithoutAFight() {
        linktest::Peer peer(120.0);
        test::Machine m;
        QSlider* tempo = m.slider("tempoSlider");
        EngineParams& params = m.params();
        const auto render = [&](int blocks) {
            std::vector<std::int16_t> buffer(2 * 512);
            for (int i = 0; i < blocks; ++i) {
                m.audio.playing->render(buffer.data(), 512);
                QTest::qWait(2);
            }
            m.window->refreshFollowing();
        };

        m.window->setClockSource(common::ClockSource::MidiClock);
        QVERIFY(!tempo->isEnabled()); // a MIDI clock leads alone
        m.window->setClockSource(common::ClockSource::Link);
        QVERIFY(tempo->isEnabled());
        if (const std::string why = peer.meet(); !why.empty())
            QSKIP(why.c_str());

        // The user's tempo becomes the session's.
        tempo->setValue(6615);
        render(4);
        const double ours = LoopMachineWindow::kTempoConstant / (4.0 * 6615);
        QVERIFY(std::abs(peer.number("wait-tempo " + std::to_string(ours) + " 5") - ours) < 0.01);

        // The peer's comes back to the slider, and stays the session's: the slider's rounding is not sent.
        QCOMPARE(peer.ask("tempo 140.37"), std::string("ok"));
        for (int i = 0; i < 500 && std::abs(params.followedBpm.load() - 140.37) > 0.005; ++i)
            render(1);
        QVERIFY(std::abs(params.followedBpm.load() - 140.37) < 0.01);
        const int shown = static_cast<int>(std::lround(LoopMachineWindow::kTempoConstant / (4.0 * 140.37)));
        QCOMPARE(tempo->value(), shown);
        render(20);
        QVERIFY(std::abs(peer.number("state", 1) - 140.37) < 0.001);

        // A scene the user opens brings its tempo to the session.
        QTemporaryDir dir;
        m.dialogs.saveSceneAnswer = dir.filePath("s.json");
        QTest::keyClick(m.window.get(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(peer.ask("tempo 100"), std::string("ok"));
        for (int i = 0; i < 500 && std::abs(params.followedBpm.load() - 100.0) > 0.005; ++i)
            render(1);
        m.dialogs.openSceneAnswer = dir.filePath("s.json");
        QTest::keyClick(m.window.get(), Qt::Key_O, Qt::ControlModifier);
        QVERIFY(m.dialogs.errors.isEmpty());
        render(4);
        const double scene = LoopMachineWindow::kTempoConstant / (4.0 * shown);
        QVERIFY(std::abs(peer.number("wait-tempo " + std::to_string(scene) + " 5") - scene) < 0.01);

        m.window->setClockSource(common::ClockSource::Internal);
        QVERIFY(tempo->isEnabled());
    }
};

QTEST_MAIN(LinkWindowTest)
#include "LinkWindowTest.moc"
