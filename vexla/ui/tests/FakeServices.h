// Test stand-ins for the audio output and the modal dialogs: they record what the window asked for
// and answer at once, so nothing modal runs and no device opens. Test thread only.
#pragma once

#include "audio/Output.h"
#include "vexla/ui/DialogProvider.h"

#include <QByteArray>
#include <QDialog>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

namespace vexla::test {

/// A 16-bit stereo 44100 Hz WAV of `frames` frames: left rises by `slope` per frame, right falls.
inline QByteArray makeRampWav(int slope, int frames) {
    QByteArray bytes;
    const auto put32 = [&bytes](quint32 v) {
        for (int i = 0; i < 4; ++i)
            bytes.append(char((v >> (8 * i)) & 0xff));
    };
    const auto put16 = [&bytes](quint16 v) {
        bytes.append(char(v & 0xff));
        bytes.append(char(v >> 8));
    };
    bytes.append("RIFF");
    put32(36 + 4 * frames);
    bytes.append("WAVEfmt ");
    put32(16);
    put16(1);
    put16(2);
    put32(44100);
    put32(176400);
    put16(4);
    put16(16);
    bytes.append("data");
    put32(4 * frames);
    for (int i = 0; i < frames; ++i) {
        put16(quint16(qint16(i * slope)));
        put16(quint16(qint16(-i * slope)));
    }
    return bytes;
}

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

    audio::Source* playing = nullptr;
    std::vector<audio::StreamSettings> starts;
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

} // namespace vexla::test
