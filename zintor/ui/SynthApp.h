// The synthesiser application: owns engine, audio and window; stops the stream first. Window thread only.
#pragma once

#include "common/ClockSource.h"

#include <QString>

#include <memory>
#include <optional>

class QSettings;

namespace audio {
class Output;
}

namespace zintor {

class MessageBoxes;
class SynthEngine;
class SynthWindow;

class SynthApp {
  public:
    /// Builds the engine; the window and the stream start in exec().
    SynthApp(std::unique_ptr<audio::Output> audio, std::unique_ptr<MessageBoxes> boxes);
    SynthApp(const SynthApp&) = delete;
    SynthApp& operator=(const SynthApp&) = delete;
    ~SynthApp();

    /// Creates the main window and runs it modally; when it closes, whatever the button, stops the
    /// stream and releases the engine. Returns the program's exit status, 0.
    int exec();

    /// The output device the window plays on (the program's --device), before exec().
    void setDeviceIndex(int index) { deviceIndex_ = index; }
    /// The clock the window starts following (the program's --sync); nullopt: the stored choice.
    void setClockSource(std::optional<common::ClockSource> source) { clockSource_ = source; }
    /// Where the window keeps the user's choices for the next start, before exec(). Null: nothing is kept.
    void setSettingsStore(QSettings* store) { store_ = store; }

    /// When set, exec() saves a picture of the window there after it has shown, then closes it.
    void setScreenshotPath(const QString& path) { screenshotPath_ = path; }

    /// Stops the stream, then closes the window and releases the engine. Safe to repeat.
    void shutdown();

    /// Null before exec() and after shutdown().
    SynthWindow* window() const { return window_.get(); }
    /// Null after shutdown().
    SynthEngine* engine() const { return engine_.get(); }

  private:
    std::unique_ptr<SynthEngine> engine_;
    std::unique_ptr<audio::Output> audio_;
    std::unique_ptr<MessageBoxes> boxes_;
    std::unique_ptr<SynthWindow> window_;
    QString screenshotPath_;
    int deviceIndex_ = 0;
    std::optional<common::ClockSource> clockSource_;
    QSettings* store_ = nullptr;
};

} // namespace zintor
