// Zintor: with arguments it renders headless; without, it opens its window.
#include "audio/AudioOutput.h"
#include "zintor/cli/CommandLine.h"
#include "zintor/ui/MessageBoxes.h"
#include "zintor/ui/SynthApp.h"

#include <QApplication>

#include <memory>

int main(int argc, char** argv) {
    if (argc > 1)
        return zintor::runCommandLine(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName("zintor");
    zintor::SynthApp synth(std::make_unique<audio::AudioOutput>(),
                           std::make_unique<zintor::QtMessageBoxes>());
    // Set by tools/screenshot.sh to photograph the real window for the user guide.
    synth.setScreenshotPath(qEnvironmentVariable("VZ_SCREENSHOT"));
    return synth.exec();
}
