// The loop machine's audio output settings, owned by the main window. Window thread only.
#pragma once

#include <cstdint>

namespace vexla {

struct AudioSettings {
    std::int32_t latencyFrames = 2048; ///< stream block in stereo frames; the stream gets × 4 bytes
    std::int32_t deviceIndex = 0;      ///< index into the audio service's device list
};

} // namespace vexla
