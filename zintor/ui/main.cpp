// Zintor: with --render it renders headless, with --play it plays headless, with --list-devices it lists
// the sound devices; without arguments, or with --device alone, it opens its window.
#include "audio/AudioOutput.h"
#include "zintor/cli/CommandLine.h"
#include "zintor/ui/MessageBoxes.h"
#include "zintor/ui/SynthApp.h"

#include <QApplication>
#include <QSettings>

#include <memory>
#include <optional>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // It looks for devices only when asked: a render opens none.
    auto audio = std::make_unique<audio::AudioOutput>("zintor");
    common::WindowStart start;
    if (const std::optional<int> status = zintor::runProgramCommandLine(
            argc, argv, [&audio] { return audio->deviceNames(); }, start, audio.get()))
        return *status;
    QApplication app(argc, argv);
    QApplication::setApplicationName("zintor");
    // The device the command line names is kept for the next start without one; so is the clock,
    // which the window keeps as the user chooses it.
    QSettings stored("zintor", "zintor");
    int deviceIndex = start.deviceIndex.value_or(0);
    const QString storedDevice = stored.value("sound/device").toString();
    if (start.deviceIndex || !storedDevice.isEmpty()) {
        const std::vector<std::string> devices = audio->deviceNames();
        for (std::size_t i = 0; i < devices.size() && !start.deviceIndex; ++i)
            if (QString::fromStdString(devices[i]) == storedDevice)
                deviceIndex = static_cast<int>(i);
        if (start.deviceIndex && *start.deviceIndex < static_cast<int>(devices.size()))
            stored.setValue("sound/device",
                            QString::fromStdString(devices[static_cast<std::size_t>(*start.deviceIndex)]));
    }
    zintor::SynthApp synth(std::move(audio), std::make_unique<zintor::QtMessageBoxes>());
    synth.setDeviceIndex(deviceIndex);
    synth.setClockSource(start.sync);
    synth.setSettingsStore(&stored);
    // Set by tools/screenshot.sh to photograph the real window for the user guide.
    synth.setScreenshotPath(qEnvironmentVariable("VZ_SCREENSHOT"));
    return synth.exec();
}
