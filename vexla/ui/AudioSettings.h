// The loop machine's audio output settings, owned by the main window. Window thread only.
#pragma once

#include "audio/Output.h"
#include "common/ClockSource.h"

#include <cstdint>

namespace vexla {

/// The device's own buffering, on top of the stream's block; the latency display adds it.
inline constexpr int kMixBufferMilliseconds = 40;

struct AudioSettings {
    std::int32_t latencyFrames = 2048; ///< stream block in stereo frames
    std::int32_t deviceIndex = 0;      ///< index into the audio output's device list
    common::ClockSource clockSource = common::ClockSource::Internal; ///< what the steps follow
    bool autoConnect = true; ///< JACK: the outputs go to the system's playback ports
};

/// The stream these settings ask the audio output for, with the engine's MIDI on `midi` and JACK
/// transport heard in `transport` (led when the clock says so).
inline audio::StreamSettings streamSettings(const AudioSettings& settings, common::MidiBus* midi = nullptr,
                                            audio::JackTransport* transport = nullptr) {
    return {settings.deviceIndex,
            settings.latencyFrames,
            kMixBufferMilliseconds,
            settings.autoConnect,
            midi,
            transport,
            settings.clockSource == common::ClockSource::JackTimebase};
}

} // namespace vexla
