// The loop machine when the world fails under it: the disk fills during a recording, the recording's
// folder is removed, settings OK is pressed ten times in a row on the real audio output. Each case
// ends with a working window and, where a recording ran, what became of its file.
#include "FakeServices.h"

#include "audio/AudioOutput.h"
#include "common/WavRecorder.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/ui/LoopMachineWindow.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QScopeGuard>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <csignal>
#include <memory>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>
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
    QStringList events_;
    std::unique_ptr<common::WavRecorder> recorder_;
    std::unique_ptr<LoopEngine> engine_;
    std::unique_ptr<FakeAudio> audio_;
    std::unique_ptr<FakeDialogs> dialogs_;
    std::unique_ptr<LoopMachineWindow> window_;
    std::unique_ptr<QTemporaryDir> dir_;

    QCheckBox* recordBox() { return window_->findChild<QCheckBox*>(QStringLiteral("recordCheckBox")); }

    void render(int frames) {
        std::vector<char> buffer(4096);
        for (int done = 0; done < frames; done += 1024)
            engine_->renderBlock(buffer.data(), int(buffer.size()));
    }

    /// Starts a recording through the window into `path`.
    void startRecording(const QString& path) {
        dialogs_->saveAnswer = path;
        QTest::mouseClick(recordBox(), Qt::LeftButton);
        QVERIFY(recordBox()->isChecked());
        QVERIFY(engine_->params.recording.load(kRelaxed));
    }

    /// A whole WAV: RIFF and data sizes agree with the file's length; returns its data bytes, or −1.
    static qint64 checkedDataBytes(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray bytes = file.readAll();
        if (bytes.size() < 44 || bytes.left(4) != "RIFF" || bytes.mid(36, 4) != "data")
            return -1;
        if (read32(bytes, 4) != quint32(bytes.size() - 8) || read32(bytes, 40) != quint32(bytes.size() - 44))
            return -1;
        return bytes.size() - 44;
    }

    /// The window goes on: a new recording elsewhere completes, and the render still makes sound.
    void checkStillWorks() {
        const QString path = dir_->filePath(QStringLiteral("after.wav"));
        startRecording(path);
        render(44100);
        QTest::mouseClick(recordBox(), Qt::LeftButton);
        QVERIFY(!recordBox()->isChecked());
        QVERIFY(checkedDataBytes(path) >= 44100 * 4);
    }

  private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        events_.clear();
        recorder_ = std::make_unique<common::WavRecorder>();
        recorder_->setBlockingWhenFull(true); // the test renders faster than real time
        engine_ = std::make_unique<LoopEngine>();
        audio_ = std::make_unique<FakeAudio>();
        dialogs_ = std::make_unique<FakeDialogs>();
        audio_->events = &events_;
        dialogs_->events = &events_;
        window_ = std::make_unique<LoopMachineWindow>(*engine_, *recorder_, *audio_, *dialogs_, 1u);
        window_->start();
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        QTest::mouseClick(window_->findChild<QPushButton*>(QStringLiteral("runButton")), Qt::LeftButton);
    }

    void cleanup() {
        window_.reset();
        recorder_.reset();
        engine_.reset();
        dir_.reset();
    }

    void fullDiskStopsTheRecordingWithAReadableFile() {
        constexpr int kDiskBytes = 256 * 1024;
        const QString folder = dir_->filePath(QStringLiteral("small"));
        const QString path = folder + QStringLiteral("/take.wav");
        {
            SmallDisk disk(folder, kDiskBytes);
            startRecording(path);
            render(5 * 44100); // about 880 KB: far more than the disk holds
            QTRY_VERIFY_WITH_TIMEOUT(!recorder_->lastError().empty(), 10000);
            window_->refreshStatus();
            QVERIFY(!recordBox()->isChecked());
            QVERIFY(!engine_->params.recording.load(kRelaxed));
            QCOMPARE(dialogs_->errors.size(), 1);
            QVERIFY2(dialogs_->errors.first().contains(QStringLiteral("incomplete")),
                     qPrintable(dialogs_->errors.first()));
            // What did fit is a valid WAV of whole frames.
            const qint64 data = checkedDataBytes(path);
            QVERIFY2(data > 0, qPrintable(path));
            QCOMPARE(data % 4, 0);
            QVERIFY(data <= kDiskBytes);
            QCOMPARE(quint64(data), recorder_->framesWritten() * 4);
        }
        checkStillWorks();
    }

    void recordingFolderRemovedWhileRecordingIsReported() {
        const QString folder = dir_->filePath(QStringLiteral("takes"));
        QVERIFY(QDir().mkpath(folder));
        startRecording(folder + QStringLiteral("/take.wav"));
        render(44100);
        QVERIFY(QDir(folder).removeRecursively());
        render(44100);
        QTest::mouseClick(recordBox(), Qt::LeftButton);
        QVERIFY(!recordBox()->isChecked());
        QVERIFY(!engine_->params.recording.load(kRelaxed));
        // The recording is gone with its folder: the user is told, not shown a success.
        QCOMPARE(dialogs_->errors.size(), 1);
        QVERIFY2(dialogs_->errors.first().contains(QStringLiteral("deleted")),
                 qPrintable(dialogs_->errors.first()));
        checkStillWorks();
    }

    void settingsOkTenTimesInARowLeavesOneStreamPlaying() {
        CountingOutput realAudio;
        FakeDialogs dialogs;
        dialogs.events = &events_;
        dialogs.handler = [](QDialog& dialog) {
            auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("okButton"));
            if (dialog.objectName() != QStringLiteral("settingsDialog") || ok == nullptr)
                return int(QDialog::Accepted);
            ok->click();
            return dialog.result();
        };
        common::WavRecorder recorder;
        LoopMachineWindow window(*engine_, recorder, realAudio, dialogs, 2u);
        const auto stopFirst = qScopeGuard([&realAudio] { realAudio.stop(); }); // before the window goes
        window_.reset(); // one window on the engine at a time
        window.start();
        window.show();
        auto* settings = window.findChild<QPushButton*>(QStringLiteral("settingsButton"));
        for (int i = 0; i < 10; ++i)
            QTest::mouseClick(settings, Qt::LeftButton);
        QCOMPARE(events_.count(QStringLiteral("dialog settingsDialog")), 10);
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
