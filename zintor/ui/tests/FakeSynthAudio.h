// Test doubles: an audio output that opens nothing, message boxes and file dialogs that answer at once.
// Window thread.
#pragma once

#include "zintor/ui/MessageBoxes.h"
#include "zintor/ui/SynthAudio.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace zintor {

class FakeSynthAudio final : public SynthAudio {
  public:
    void open(FSOUND_STREAMCALLBACK cb, void* user, void*) override {
        calls << "open";
        callback = cb;
        userData = user;
    }
    void play() override { calls << "play"; }
    void stop() override {
        calls << "stop";
        if (onStop)
            onStop();
    }
    float cpuUsage() override { return cpu; }

    /// Runs one callback block as the audio thread would.
    void renderOnce(int lengthBytes = 4000) {
        static char buffer[1 << 16];
        if (callback)
            callback(nullptr, buffer, lengthBytes, userData);
    }

    QStringList calls;
    FSOUND_STREAMCALLBACK callback = nullptr;
    void* userData = nullptr;
    float cpu = 0.0f;
    std::function<void()> onStop;
};

class FakeMessageBoxes final : public MessageBoxes {
  public:
    void error(QWidget*, const QString& title, const QString& text) override {
        shown << title + "|" + text;
        if (onError)
            onError();
    }
    QString openFileName(QWidget*, const QString& title, const QStringList&, const QString&) override {
        asked << title;
        return openPath;
    }
    QString saveFileName(QWidget*, const QString& title, const QStringList&, const QString&) override {
        asked << title;
        return savePath;
    }
    QStringList shown;
    std::function<void()> onError;
    QStringList asked;  ///< titles of the file dialogs, in order
    QString openPath;   ///< what the file-open dialog answers ("" cancels)
    QString savePath;   ///< what the file-save dialog answers ("" cancels)
};

} // namespace zintor
