// Vexla: with arguments it renders headless; without, it opens its window.
#include "vexla/cli/CommandLine.h"

#include "audio/AudioOutput.h"
#include "common/WavRecorder.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/ui/DialogProvider.h"
#include "vexla/ui/LoopMachineWindow.h"
#include "vexla/ui/Screenshot.h"

#include <QApplication>
#include <ctime>
#include <memory>

int main(int argc, char** argv) {
    if (argc > 1)
        return vexla::runCommandLine(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vexla"));

    // The audio output plays the window's view of the engine: it is stopped below, before the window,
    // the engine and the recorder go.
    common::WavRecorder recorder;
    auto engine = std::make_unique<vexla::LoopEngine>();
    audio::AudioOutput audio;
    vexla::QtDialogProvider dialogs;

    vexla::LoopMachineWindow window(*engine, recorder, audio, dialogs,
                                    static_cast<std::uint32_t>(std::time(nullptr)));
    const QString screenshot = vexla::screenshotPath();
    if (!screenshot.isEmpty())
        vexla::scheduleScreenshot(window, screenshot);
    window.start();
    const int result = window.exec();
    audio.stop(); // however the window closed
    return screenshot.isEmpty() ? 0 : result;
}
