// Vexla: with arguments it renders headless; without, it opens its window.
#include "vexla/cli/CommandLine.h"

#include "common/WavRecorder.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/ui/AudioService.h"
#include "vexla/ui/DialogProvider.h"
#include "vexla/ui/LoopMachineWindow.h"
#include "vexla/ui/Screenshot.h"

#include <QApplication>
#include <ctime>
#include <memory>

namespace {

signed char renderStream(FSOUND_STREAM*, void* buffer, int lengthBytes, void* engine) {
    static_cast<vexla::LoopEngine*>(engine)->renderBlock(buffer, lengthBytes);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1)
        return vexla::runCommandLine(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vexla"));

    // Built before the window and outlived by nothing that renders: the audio service is declared
    // after them, so it stops its stream before they go.
    common::WavRecorder recorder;
    auto engine = std::make_unique<vexla::LoopEngine>();
    vexla::OutputAudioService audio(&renderStream, engine.get());
    vexla::QtDialogProvider dialogs;

    vexla::LoopMachineWindow window(*engine, recorder, audio, dialogs,
                                    static_cast<std::uint32_t>(std::time(nullptr)));
    const QString screenshot = vexla::screenshotPath();
    if (!screenshot.isEmpty())
        vexla::scheduleScreenshot(window, screenshot);
    window.start();
    const int result = window.exec();
    audio.stop();
    return screenshot.isEmpty() ? 0 : result;
}
