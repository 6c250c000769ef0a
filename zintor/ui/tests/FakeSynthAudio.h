// Test doubles: an audio output that opens nothing, message boxes and file dialogs that answer at once;
// and the rig every window test starts from. Window thread.
#pragma once

#include "audio/Output.h"
#include "zintor/engine/SynthEngine.h"
#include "zintor/ui/MessageBoxes.h"
#include "zintor/ui/SynthWindow.h"

#include <QLabel>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

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

/// One window on a fresh engine, with fakes for everything that would block or make noise, and a
/// temporary folder for the files it writes.
struct WindowRig {
    std::unique_ptr<SynthEngine> engine = std::make_unique<SynthEngine>();
    FakeSynthAudio audio;
    FakeMessageBoxes boxes;
    std::unique_ptr<SynthWindow> window = std::make_unique<SynthWindow>(*engine, audio, boxes);
    QTemporaryDir dir;

    explicit WindowRig(bool show = true) {
        if (show) {
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        }
    }
    template <typename T> T* child(const QString& name) const {
        T* found = window->findChild<T*>(name);
        if (!found)
            qFatal("no control named %s", qPrintable(name));
        return found;
    }
    SynthParams& params() { return engine->params; }
    QString status() const { return child<QLabel>("statusLabel")->text(); }
    QString file(const char* name) const { return dir.filePath(name); }
    void keys(Qt::Key key, Qt::KeyboardModifiers modifiers) { QTest::keyClick(window.get(), key, modifiers); }
    SynthState state() const { return captureState(*engine); }
};

} // namespace zintor
