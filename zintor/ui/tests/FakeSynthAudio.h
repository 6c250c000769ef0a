// Test doubles: an audio output that opens nothing, message boxes and file dialogs that answer at once.
// Free of Qt Test, so that the window benchmarks use them too (the test rig is in WindowRig.h). Window
// thread.
#pragma once

#include "audio/Output.h"
#include "zintor/engine/SynthEngine.h"
#include "zintor/ui/MessageBoxes.h"
#include "zintor/ui/SynthWindow.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zintor {

/// Records what the window asked of the audio output; plays only when the test says so.
class FakeSynthAudio final : public audio::Output {
  public:
    void start(audio::Source& played, const audio::StreamSettings& chosen) override {
        calls << "start";
        source = &played;
        settings = chosen;
    }
    void stop() override {
        calls << "stop";
        if (onStop)
            onStop();
    }
    float cpuLoadPercent() override { return cpu; }
    std::vector<std::string> deviceNames() override { return {}; }
    void leadTransport(bool lead) override { calls << (lead ? "lead" : "follow"); }
    void rollTransport(bool roll, bool fromStart) override {
        calls << (roll ? (fromStart ? "roll from start" : "roll") : "halt");
    }

    /// Renders frames into out as the audio thread would.
    void render(std::int16_t* out, int frames) {
        if (source)
            source->render(out, frames);
    }
    /// Runs one block of lengthBytes / 4 frames as the audio thread would.
    void renderOnce(int lengthBytes = 4000) {
        static std::int16_t buffer[1 << 15];
        render(buffer, lengthBytes / 4);
    }

    QStringList calls;
    audio::Source* source = nullptr;
    audio::StreamSettings settings;
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
    QStringList asked; ///< titles of the file dialogs, in order
    QString openPath;  ///< what the file-open dialog answers ("" cancels)
    QString savePath;  ///< what the file-save dialog answers ("" cancels)
};

} // namespace zintor
