// The synthesiser application object.
#include "zintor/ui/SynthApp.h"

#include "zintor/engine/SynthEngine.h"
#include "zintor/ui/MessageBoxes.h"
#include "zintor/ui/SynthAudio.h"
#include "zintor/ui/SynthWindow.h"

namespace zintor {

SynthApp::SynthApp(std::unique_ptr<SynthAudio> audio, std::unique_ptr<MessageBoxes> boxes)
    : engine_(std::make_unique<SynthEngine>()), audio_(std::move(audio)), boxes_(std::move(boxes)) {}

SynthApp::~SynthApp() { shutdown(); }

int SynthApp::exec() {
    if (!engine_)
        return 0;
    window_ = std::make_unique<SynthWindow>(*engine_, *audio_, *boxes_);
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
