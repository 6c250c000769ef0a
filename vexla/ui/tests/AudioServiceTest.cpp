// The window's audio service on the real output layer with its silent output: the stream runs with
// the chosen block length, a restart replaces it, and after stop no callback comes.
#include "vexla/ui/AudioService.h"

#include <QtTest>
#include <atomic>
#include <cstring>

using namespace vexla;

namespace {

struct CallbackLog {
    std::atomic<int> calls{0};
    std::atomic<int> lastLength{0};
    std::atomic<bool> wrongContext{false};
};

CallbackLog* expectedLog = nullptr;

signed char countBlock(FSOUND_STREAM*, void* buffer, int lengthBytes, void* context) {
    auto* log = static_cast<CallbackLog*>(context);
    if (log != expectedLog)
        log->wrongContext.store(true);
    std::memset(buffer, 0, static_cast<std::size_t>(lengthBytes));
    log->lastLength.store(lengthBytes);
    log->calls.fetch_add(1);
    return 1;
}

} // namespace

class AudioServiceTest : public QObject {
    Q_OBJECT
private slots:
    void restartsWithTheNewLatencyAndStopsForGood() {
        CallbackLog log;
        expectedLog = &log;
        OutputAudioService audio(&countBlock, &log, OutputAudioService::kSilentOutput);
        audio.start(AudioSettings{});
        QTRY_VERIFY_WITH_TIMEOUT(log.calls.load() >= 2, 5000);
        QCOMPARE(log.lastLength.load(), 2048 * 4);

        // Settings OK: the old stream goes, the new one runs with its own block length.
        audio.start(AudioSettings{1024, 0});
        const int before = log.calls.load();
        QTRY_VERIFY_WITH_TIMEOUT(log.calls.load() >= before + 2, 5000);
        QCOMPARE(log.lastLength.load(), 1024 * 4);

        audio.stop();
        const int stopped = log.calls.load();
        QTest::qWait(150);
        QCOMPARE(log.calls.load(), stopped);
        QVERIFY(!log.wrongContext.load());
        audio.stop(); // a second stop is harmless
    }

    void deviceNamesAreReadable() {
        CallbackLog log;
        OutputAudioService audio(&countBlock, &log, OutputAudioService::kSilentOutput);
        for (const QString& name : audio.deviceNames())
            QVERIFY(!name.trimmed().isEmpty());
        const float load = audio.cpuUsage();
        QVERIFY(load >= 0.0f && load <= 100.0f);
    }
};

QTEST_GUILESS_MAIN(AudioServiceTest)
#include "AudioServiceTest.moc"
