// Zintor: with --render it renders headless, with --play it plays headless, with --list-devices it lists
// the sound devices; without arguments, or with --device alone, it opens its window.
#include "audio/AudioOutput.h"
#include "zintor/cli/CommandLine.h"
#include "zintor/ui/MessageBoxes.h"
#include "zintor/ui/SynthApp.h"

#include <QApplication>

#include <memory>
#include <optional>

int main(int argc, char** argv) {
    // It looks for devices only when asked: a render opens none.
    auto audio = std::make_unique<audio::AudioOutput>("zintor");
    common::WindowStart start;
    if (const std::optional<int> status = zintor::runProgramCommandLine(
            argc, argv, [&audio] { return audio->deviceNames(); }, start, audio.get()))
        return *status;
    QApplication app(argc, argv);
    QApplication::setApplicationName("zintor");
    zintor::SynthApp synth(std::move(audio), std::make_unique<zintor::QtMessageBoxes>());
    synth.setDeviceIndex(start.deviceIndex.value_or(0));
    // Set by tools/screenshot.sh to photograph the real window for the user guide.
    synth.setScreenshotPath(qEnvironmentVariable("VZ_SCREENSHOT"));
    return synth.exec();
}
