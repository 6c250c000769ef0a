// The window's control values as one render block sees them: read once per block from EngineParams (and
// again after a step boundary that took a scene), then handed to the units as plain values. Audio thread.
#pragma once

#include "vexla/engine/EngineParams.h"
#include "vexla/engine/SceneState.h"

namespace vexla {

struct ParamSnapshot {
    bool running = false;
    bool recording = false;
    ControlValues controls;
};

/// Reads every control once (relaxed loads).
ParamSnapshot readParams(const EngineParams& params);

} // namespace vexla
