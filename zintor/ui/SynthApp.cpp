// The synthesiser application object.
#include "zintor/ui/SynthApp.h"

#include "audio/Output.h"
#include "zintor/engine/SynthEngine.h"
#include "zintor/ui/MessageBoxes.h"
#include "zintor/ui/SynthWindow.h"

#include <QAbstractButton>
#include <QPixmap>
#include <QSettings>
#include <QTimer>

#include <cstdio>

namespace zintor {

namespace {
constexpr int kScreenshotDelayMs = 1500; // long enough for the window manager to map and paint it
}

SynthApp::SynthApp(std::unique_ptr<audio::Output> audio, std::unique_ptr<MessageBoxes> boxes)
    : engine_(std::make_unique<SynthEngine>()), audio_(std::move(audio)), boxes_(std::move(boxes)) {}

SynthApp::~SynthApp() {
    shutdown();
}

int SynthApp::exec() {
    if (!engine_)
        return 0;
    window_ = std::make_unique<SynthWindow>(*engine_, *audio_, *boxes_, deviceIndex_);
    std::optional<common::ClockSource> clock = clockSource_;
    if (!clock && store_)
        clock = common::clockSourceNamed(store_->value("sync/clockSource").toString().toStdString());
    window_->setSettingsStore(store_);
    window_->setClockSource(clock.value_or(common::ClockSource::Internal));
    if (!screenshotPath_.isEmpty()) {
        SynthWindow* window = window_.get();
        int delayMs = kScreenshotDelayMs;
        // A picture of the synthesiser playing: press "Play" once the window shows, then wait a bar.
        if (!qEnvironmentVariableIsEmpty("VZ_SCREENSHOT_PLAYING")) {
            QTimer::singleShot(300, window, [window] {
                if (auto* play = window->findChild<QAbstractButton*>(QStringLiteral("playButton")))
                    play->click();
            });
            delayMs += 2000;
        }
        QTimer::singleShot(delayMs, window, [window, path = screenshotPath_] {
            const bool saved = window->grab().save(path, "PNG");
            std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "Saved" : "Could not save",
                         qPrintable(path));
            window->done(saved ? QDialog::Accepted : QDialog::Rejected);
        });
    }
    window_->exec();
    shutdown();
    return 0;
}

void SynthApp::shutdown() {
    // The render runs on the audio thread until the stream has stopped: only then may the engine go.
    if (audio_)
        audio_->stop();
    window_.reset();
    engine_.reset();
}

} // namespace zintor
