// The window's view of the audio output: start, stop, load and device list. Window thread only; the
// render callback that the real service drives runs on the audio thread.
#pragma once

#include "vexla/ui/AudioSettings.h"

#include <QStringList>

struct FSOUND_STREAM;

namespace vexla {

class AudioService {
public:
    virtual ~AudioService() = default;
    /// Starts (or restarts, replacing a running stream) the output with these settings.
    virtual void start(const AudioSettings& settings) = 0;
    /// Stops the stream; no render callback runs once this returns.
    virtual void stop() = 0;
    /// Processor load of the render, in percent.
    virtual float cpuUsage() = 0;
    /// Readable device names in index order.
    virtual QStringList deviceNames() = 0;
};

/// The real service on the audio output library, rendering with `render`.
class OutputAudioService final : public AudioService {
public:
    using RenderCallback = signed char (*)(FSOUND_STREAM*, void*, int, void*);
    static constexpr int kDeviceOutput = 2;  ///< the sound device chosen in the settings
    static constexpr int kSilentOutput = 0;  ///< no device: the stream is clocked without sound

    /// `render` is called with `renderContext` as its user value.
    OutputAudioService(RenderCallback render, void* renderContext, int outputType = kDeviceOutput)
        : render_(render), context_(renderContext), outputType_(outputType) {}
    ~OutputAudioService() override;

    void start(const AudioSettings& settings) override;
    void stop() override;
    float cpuUsage() override;
    QStringList deviceNames() override;

private:
    RenderCallback render_;
    void* context_;
    int outputType_;
    FSOUND_STREAM* stream_ = nullptr;
};

} // namespace vexla
