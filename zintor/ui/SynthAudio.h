// The synth's audio stream: all calls on the window thread; the callback runs on the audio thread.
#pragma once

#include "audio/AudioOutput.h"

namespace zintor {

class SynthAudio {
  public:
    virtual ~SynthAudio() = default;
    /// Sets the device up and creates the stream, which does not call back until play().
    virtual void open(FSOUND_STREAMCALLBACK callback, void* userData, void* windowHandle) = 0;
    virtual void play() = 0;
    /// Stops and closes the stream; returns only when no callback runs any more. Safe to repeat.
    virtual void stop() = 0;
    /// Share of real time spent in the callback, in percent.
    virtual float cpuUsage() = 0;
};

/// The real output through the audio output service: 44100 Hz, 1000-frame blocks, 50 ms latency.
class ServiceSynthAudio final : public SynthAudio {
  public:
    ServiceSynthAudio() = default;
    ServiceSynthAudio(const ServiceSynthAudio&) = delete;
    ServiceSynthAudio& operator=(const ServiceSynthAudio&) = delete;
    ~ServiceSynthAudio() override { stop(); }

    void open(FSOUND_STREAMCALLBACK callback, void* userData, void* windowHandle) override;
    void play() override;
    void stop() override;
    float cpuUsage() override;

  private:
    FSOUND_STREAM* stream_ = nullptr;
    bool initialised_ = false;
};

} // namespace zintor
