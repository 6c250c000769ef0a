// Vexla: with --render it renders headless, with --play it plays headless, with --list-devices it lists
// the sound devices; without arguments, or with --device alone, it opens its window.
#include "vexla/cli/CommandLine.h"

#include "audio/AudioOutput.h"
#include "common/WavRecorder.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/ui/DialogProvider.h"
#include "vexla/ui/LoopMachineWindow.h"
#include "vexla/ui/Screenshot.h"

#include <QApplication>
#include <QSettings>
#include <ctime>
#include <memory>
#include <optional>

int main(int argc, char** argv) {
    // The audio output plays the window's view of the engine: it is stopped below, before the window,
    // the engine and the recorder go. It looks for devices only when asked: a render opens none.
    audio::AudioOutput audio("vexla");
    common::WindowStart start;
    if (const std::optional<int> status = vexla::runProgramCommandLine(
            argc, argv, [&audio] { return audio.deviceNames(); }, start, &audio))
        return *status;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vexla"));

    common::WavRecorder recorder;
    auto engine = std::make_unique<vexla::LoopEngine>();
    vexla::QtDialogProvider dialogs;

    vexla::LoopMachineWindow window(*engine, recorder, audio, dialogs,
                                    static_cast<std::uint32_t>(std::time(nullptr)));
    // The user's last sound settings, then what the command line says.
    QSettings stored(QStringLiteral("vexla"), QStringLiteral("vexla"));
    window.setSettingsStore(&stored);
    if (start.deviceIndex)
        window.setDeviceIndex(*start.deviceIndex);
    if (start.sync)
        window.setClockSource(*start.sync);
    const QString screenshot = vexla::screenshotPath();
    if (!screenshot.isEmpty())
        vexla::scheduleScreenshot(window, screenshot);
    window.start();
    const int result = window.exec();
    audio.stop(); // however the window closed
    return screenshot.isEmpty() ? 0 : result;
}
