// The loop machine when the world fails under it: the disk fills during a recording, the recording's
// folder is removed, settings OK is pressed ten times in a row on the real audio output. Each case
// ends with a working window and, where a recording ran, what became of its file.
#include "FakeServices.h"

#include "audio/AudioOutput.h"

#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <atomic>
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace vexla;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

/// The real audio output (a device where there is one, else the silent output), counting the render
/// calls of whatever the window plays.
class CountingOutput final : public audio::Output, audio::Source {
  public:
    void start(audio::Source& source, const audio::StreamSettings& settings) override {
        real_.stop(); // the old source's last call has returned
        played_ = &source;
        real_.start(*this, settings);
    }
    void stop() override { real_.stop(); }
    float cpuLoadPercent() override { return real_.cpuLoadPercent(); }
    std::vector<std::string> deviceNames() override { return real_.deviceNames(); }

    std::atomic<int> calls{0};

  private:
    void render(std::int16_t* interleavedStereo, int frames) override {
        played_->render(interleavedStereo, frames);
        calls.fetch_add(1);
    }

    audio::Source* played_ = nullptr;
    audio::AudioOutput real_;
};

/// A folder that holds at most `bytes`: a small tmpfs where we may mount one (root), else the process's
/// file size limit, which makes writes past it fail as a full disk's do.
class SmallDisk {
  public:
    SmallDisk(const QString& path, int bytes) : path_(path) {
        QDir().mkpath(path);
        const QByteArray options = "size=" + QByteArray::number(bytes);
        mounted_ =
            ::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, options.constData()) == 0;
        if (!mounted_) {
            std::signal(SIGXFSZ, SIG_IGN);
            ::getrlimit(RLIMIT_FSIZE, &saved_);
            rlimit limit = saved_;
            limit.rlim_cur = rlim_t(bytes);
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
    }
    ~SmallDisk() {
        if (mounted_)
            ::umount2(QFile::encodeName(path_).constData(), MNT_DETACH);
        else
            ::setrlimit(RLIMIT_FSIZE, &saved_);
    }
    bool mounted() const { return mounted_; }

  private:
    QString path_;
    bool mounted_ = false;
    rlimit saved_{};
};

} // namespace

class LoopMachineFaultTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::Machine> m_;
    std::unique_ptr<QTemporaryDir> dir_;

    QCheckBox* recordBox() { return m_->find<QCheckBox>("recordCheckBox"); }

    /// Starts a recording through the window into `path`.
    void startRecording(const QString& path) {
        m_->dialogs.saveAnswer = path;
        QTest::mouseClick(recordBox(), Qt::LeftButton);
        QVERIFY(recordBox()->isChecked());
        QVERIFY(m_->params().recording.load(kRelaxed));
    }

    /// The window goes on: a new recording elsewhere completes.
    void checkStillWorks() {
        const QString path = dir_->filePath(QStringLiteral("after.wav"));
        startRecording(path);
        m_->render(44100);
        QTest::mouseClick(recordBox(), Qt::LeftButton);
        QVERIFY(!recordBox()->isChecked());
        QVERIFY(test::wholeWavDataBytes(path) >= 44100 * 4);
    }

  private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        m_ = std::make_unique<test::Machine>();
        m_->recorder->setBlockingWhenFull(true); // the test renders faster than real time
        m_->click("runButton");
    }

    void cleanup() {
        m_.reset();
        dir_.reset();
    }

    void fullDiskStopsTheRecordingWithAReadableFile() {
        constexpr int kDiskBytes = 256 * 1024;
        const QString folder = dir_->filePath(QStringLiteral("small"));
        const QString path = folder + QStringLiteral("/take.wav");
        {
            SmallDisk disk(folder, kDiskBytes);
            startRecording(path);
            m_->render(5 * 44100); // about 880 KB: far more than the disk holds
            QTRY_VERIFY_WITH_TIMEOUT(!m_->recorder->lastError().empty(), 10000);
            m_->window->refreshStatus();
            QVERIFY(!recordBox()->isChecked());
            QVERIFY(!m_->params().recording.load(kRelaxed));
            QCOMPARE(m_->dialogs.errors.size(), 1);
            QVERIFY2(m_->dialogs.errors.first().contains(QStringLiteral("incomplete")),
                     qPrintable(m_->dialogs.errors.first()));
            // What did fit is a valid WAV of whole frames.
            const qint64 data = test::wholeWavDataBytes(path);
            QVERIFY2(data > 0, qPrintable(path));
            QCOMPARE(data % 4, 0);
            QVERIFY(data <= kDiskBytes);
            QCOMPARE(quint64(data), m_->recorder->framesWritten() * 4);
        }
        checkStillWorks();
    }

    void recordingFolderRemovedWhileRecordingIsReported() {
        const QString folder = dir_->filePath(QStringLiteral("takes"));
        QVERIFY(QDir().mkpath(folder));
        startRecording(folder + QStringLiteral("/take.wav"));
        m_->render(44100);
        QVERIFY(QDir(folder).removeRecursively());
        m_->render(44100);
        QTest::mouseClick(recordBox(), Qt::LeftButton);
        QVERIFY(!recordBox()->isChecked());
        QVERIFY(!m_->params().recording.load(kRelaxed));
        // The recording is gone with its folder: the user is told, not shown a success.
        QCOMPARE(m_->dialogs.errors.size(), 1);
        QVERIFY2(m_->dialogs.errors.first().contains(QStringLiteral("deleted")),
                 qPrintable(m_->dialogs.errors.first()));
        checkStillWorks();
    }

    void settingsOkTenTimesInARowLeavesOneStreamPlaying() {
        CountingOutput realAudio;
        test::FakeDialogs dialogs;
        QStringList events;
        dialogs.events = &events;
        dialogs.handler = [](QDialog& dialog) {
            auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("okButton"));
            if (dialog.objectName() != QStringLiteral("settingsDialog") || ok == nullptr)
                return int(QDialog::Accepted);
            ok->click();
            return dialog.result();
        };
        common::WavRecorder recorder;
        LoopMachineWindow window(*m_->engine, recorder, realAudio, dialogs, 2u);
        const auto stopFirst = qScopeGuard([&realAudio] { realAudio.stop(); }); // before the window goes
        m_->window.reset(); // one window on the engine at a time
        window.start();
        window.show();
        auto* settings = window.findChild<QPushButton*>(QStringLiteral("settingsButton"));
        for (int i = 0; i < 10; ++i)
            QTest::mouseClick(settings, Qt::LeftButton);
        QCOMPARE(events.count(QStringLiteral("dialog settingsDialog")), 10);
        const int before = realAudio.calls.load();
        QTRY_VERIFY_WITH_TIMEOUT(realAudio.calls.load() >= before + 3, 5000);
        window.refreshStatus();
        realAudio.stop();
        const int stopped = realAudio.calls.load();
        QTest::qWait(100);
        QCOMPARE(realAudio.calls.load(), stopped);
    }
};

QTEST_MAIN(LoopMachineFaultTest)
#include "FaultTest.moc"
