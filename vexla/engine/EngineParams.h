// The loop engine's parameter block: values the window writes and the render reads, the command line's
// request flags, and the values the render reports back. Any thread may read or write; all accesses are
// relaxed.
#pragma once

#include "vexla/engine/ControlFields.h"

#include <atomic>
#include <cstdint>

namespace vexla {

struct EngineParams {
#define VX_ATOMIC_FIELD(type, name, start) std::atomic<type> name{start};
    VEXLA_CONTROL_FIELDS(VX_ATOMIC_FIELD)
#undef VX_ATOMIC_FIELD
    std::atomic<bool> running{false}; ///< false: silence, clocks and units stand still

    // Requests written by name (the command line's --set requestX=1): window side only, posted to the
    // render by LoopEngine::postFlaggedRequests (or served at once by serveRequestsNow). The render never
    // reads them; the buttons call LoopEngine::request.
    std::atomic<bool> requestHats{false};
    std::atomic<bool> requestSine{false};
    std::atomic<bool> requestBass1{false};
    std::atomic<bool> requestBass2{false};
    std::atomic<bool> requestKick{false};

    std::atomic<bool> clipped{false};           ///< render sets, window clears
    std::atomic<bool> recording{false};         ///< hand every frame to the recorder
    std::atomic<std::int32_t> recordedBytes{0}; ///< render adds 4 per recorded frame
    /// The step the render is playing (the last one loaded at a step boundary), 0..63; it stands
    /// while the engine is stopped.
    std::atomic<std::int32_t> playingStep{0};
    /// Peak-hold levels of the output, 0..32766: each frame a peak falls by one and rises to the
    /// magnitude of its channel's sample if that is higher, so it reaches zero about 0.74 s after silence.
    std::atomic<std::int32_t> peakLeft{0};
    std::atomic<std::int32_t> peakRight{0};
    /// While the render follows a master clock: its tempo in quarter notes a minute (0 until known, and
    /// with no master), and whether it plays. The window shows them; the render never reads them.
    std::atomic<float> followedBpm{0.0f};
    std::atomic<bool> masterPlaying{false};
};

} // namespace vexla
