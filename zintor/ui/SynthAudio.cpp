// The synth's stream on the audio output service.
#include "zintor/ui/SynthAudio.h"

namespace zintor {

namespace {
constexpr int kSampleRate = 44100;
constexpr int kBlockBytes = 4000; // 1000 stereo 16-bit frames per callback
constexpr unsigned kStreamMode = 121;
constexpr int kLatencyMilliseconds = 50;
} // namespace

void ServiceSynthAudio::open(FSOUND_STREAMCALLBACK callback, void* userData, void* windowHandle) {
    stop();
    FSOUND_SetOutput(2);
    FSOUND_SetDriver(0);
    FSOUND_SetBufferSize(kLatencyMilliseconds);
    FSOUND_SetHWND(windowHandle);
    stream_ = FSOUND_Stream_Create(callback, kBlockBytes, kStreamMode, kSampleRate, userData);
    initialised_ = FSOUND_Init(kSampleRate, 2, 0);
}

void ServiceSynthAudio::play() {
    // A device that failed to open leaves the window working and silent.
    if (stream_)
        FSOUND_Stream_Play(0, stream_);
}

void ServiceSynthAudio::stop() {
    if (stream_) {
        FSOUND_Stream_Stop(stream_);
        FSOUND_Stream_Close(stream_);
        stream_ = nullptr;
    }
    if (initialised_) {
        FSOUND_Close();
        initialised_ = false;
    }
}

float ServiceSynthAudio::cpuUsage() {
    return FSOUND_GetCPUUsage();
}

} // namespace zintor
