// The audio service on the audio output library.
#include "vexla/ui/AudioService.h"

#include "audio/AudioOutput.h"

namespace vexla {

namespace {
constexpr int kMixBufferMs = 40; // the latency display adds these
constexpr int kSampleRate = 44100;
constexpr int kChannels = 16;
constexpr unsigned kStreamMode = 121; // 16-bit stereo
} // namespace

OutputAudioService::~OutputAudioService() { stop(); }

void OutputAudioService::start(const AudioSettings& settings) {
    // The old stream is stopped and released first, so no callback of it can overlap the new one and
    // no stream leaks across restarts.
    stop();
    FSOUND_SetOutput(outputType_);
    FSOUND_SetBufferSize(kMixBufferMs);
    FSOUND_SetDriver(settings.deviceIndex);
    FSOUND_Init(kSampleRate, kChannels, 0);
    stream_ = FSOUND_Stream_Create(render_, settings.latencyFrames * 4, kStreamMode, kSampleRate, context_);
    FSOUND_Stream_Play(-1, stream_);
}

void OutputAudioService::stop() {
    if (stream_ == nullptr)
        return;
    FSOUND_Stream_Stop(stream_);
    FSOUND_Stream_Close(stream_);
    stream_ = nullptr;
}

float OutputAudioService::cpuUsage() { return FSOUND_GetCPUUsage(); }

QStringList OutputAudioService::deviceNames() {
    QStringList names;
    const int count = FSOUND_GetNumDrivers();
    for (int i = 0; i < count; ++i) {
        const char* name = FSOUND_GetDriverName(i);
        names << (name != nullptr ? QString::fromLocal8Bit(name) : QStringLiteral("Device %1").arg(i));
    }
    return names;
}

} // namespace vexla
