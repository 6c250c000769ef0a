// Test stand-ins for the audio output and the modal dialogs: they record what the window asked for
// and answer at once, so nothing modal runs and no device opens; a window built on them as the program
// builds it; sample files and a check of recorded ones. Test thread only.
#pragma once

#include "audio/Output.h"
#include "common/WavRecorder.h"
#include "common/tests/TestWav.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/ui/DialogProvider.h"
#include "vexla/ui/LoopMachineWindow.h"

#include <QAbstractButton>
#include <QByteArray>
#include <QDialog>
#include <QFile>
#include <QSlider>
#include <QStringList>
#include <QTest>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vexla::test {

/// Records what the window asked of the audio output; plays nothing.
class FakeAudio final : public audio::Output {
  public:
    void start(audio::Source& source, const audio::StreamSettings& settings) override {
        playing = &source;
        starts.push_back(settings);
        events->append(QStringLiteral("audio start"));
    }
    void stop() override {
        playing = nullptr;
        ++stops;
        events->append(QStringLiteral("audio stop"));
    }
    float cpuLoadPercent() override { return load; }
    std::vector<std::string> deviceNames() override { return devices; }
    void leadTransport(bool lead) override { transportCalls << (lead ? "lead" : "follow"); }
    void rollTransport(bool roll, bool fromStart) override {
        transportCalls << (roll ? (fromStart ? "roll from start" : "roll") : "halt");
    }

    audio::Source* playing = nullptr;
    std::vector<audio::StreamSettings> starts;
    QStringList transportCalls; ///< what it was asked of JACK transport
    int stops = 0;
    float load = 3.14159f;
    std::vector<std::string> devices{"Built-in Audio", "USB Headset", "HDMI 1"};
    QStringList* events = nullptr;
};

class FakeDialogs final : public DialogProvider {
  public:
    QString openSampleFile(QWidget*) override {
        return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
    }
    QString saveRecordingFile(QWidget*) override {
        ++saveDialogs;
        return saveAnswer;
    }
    QString openSceneFile(QWidget*) override {
        ++sceneDialogs;
        return openSceneAnswer;
    }
    QString saveSceneFile(QWidget*) override {
        ++sceneDialogs;
        return saveSceneAnswer;
    }
    bool askYesNo(QWidget*, const QString& caption, const QString& text) override {
        questions.append(caption + QStringLiteral(": ") + text);
        return quitAnswer;
    }
    void showError(QWidget*, const QString&, const QString& text) override { errors.append(text); }
    int run(QDialog& dialog) override {
        events->append(QStringLiteral("dialog ") + dialog.objectName());
        if (!handler)
            return QDialog::Accepted;
        dialog.show();
        return handler(dialog);
    }

    QStringList openAnswers;
    QString saveAnswer;
    int saveDialogs = 0;
    QString openSceneAnswer;
    QString saveSceneAnswer;
    int sceneDialogs = 0;
    bool quitAnswer = false;
    QStringList questions;
    QStringList errors;
    /// Plays the user in a dialog run by the window; returns the dialog's result. None: accepted at once.
    std::function<int(QDialog&)> handler;
    QStringList* events = nullptr;
};

/// One window with its own engine and recorder on the fakes, started and shown as the program does it.
struct Machine {
    QStringList events;
    std::unique_ptr<common::WavRecorder> recorder = std::make_unique<common::WavRecorder>();
    std::unique_ptr<LoopEngine> engine = std::make_unique<LoopEngine>();
    FakeAudio audio;
    FakeDialogs dialogs;
    std::unique_ptr<LoopMachineWindow> window;

    explicit Machine(std::uint32_t seed = 1) {
        audio.events = &events;
        dialogs.events = &events;
        window = std::make_unique<LoopMachineWindow>(*engine, *recorder, audio, dialogs, seed);
        window->start();
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            qFatal("the window was not shown");
    }
    ~Machine() {
        window.reset();
        if (recorder->isRecording())
            recorder->finish();
    }
    template <typename T> T* find(const char* name) {
        T* widget = window->findChild<T*>(QString::fromUtf8(name));
        if (widget == nullptr)
            qFatal("no control named %s", name);
        return widget;
    }
    QSlider* slider(const char* name) { return find<QSlider>(name); }
    void click(const char* name) { QTest::mouseClick(find<QAbstractButton>(name), Qt::LeftButton); }
    EngineParams& params() { return engine->params; }
    /// The render as the audio thread would run it, then the window's timer collecting what it served.
    void render(int frames) {
        std::vector<char> buffer(4096);
        for (int done = 0; done < frames; done += 1024)
            engine->renderBlock(buffer.data(), 4 * std::min(1024, frames - done));
        engine->collectChanges();
    }
};

/// A 16-bit stereo sample file of `frames` frames: the left rises by `slope` a frame, the right falls.
inline bool writeRampWav(const QString& path, int slope, int frames) {
    std::vector<int> samples;
    for (int i = 0; i < frames; ++i)
        samples.insert(samples.end(), {qint16(i * slope), qint16(-i * slope)});
    return common::test::writeBytes(QFile::encodeName(path).toStdString(), common::test::wav16(samples));
}

/// The data bytes of a whole WAV, whose RIFF and data sizes agree with the file's length; −1 otherwise.
inline qint64 wholeWavDataBytes(const QString& path) {
    const common::test::Bytes bytes = common::test::readBytes(QFile::encodeName(path).toStdString());
    if (bytes.size() < 44 || std::string(bytes.begin(), bytes.begin() + 4) != "RIFF" ||
        std::string(bytes.begin() + 36, bytes.begin() + 40) != "data" ||
        common::test::le32(bytes, 4) != bytes.size() - 8 ||
        common::test::le32(bytes, 40) != bytes.size() - 44)
        return -1;
    return qint64(bytes.size()) - 44;
}

} // namespace vexla::test
