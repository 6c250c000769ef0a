// Scenes of the loop engine: capturing and restoring its whole sound state as plain values. Any thread
// (they touch only atomics); the files live in vexla/scene.
#pragma once

#include "vexla/engine/SceneState.h"

namespace vexla {

class LoopEngine;

/// The engine's current values. A state posted with postScene() but not yet taken is not included.
SceneState captureScene(const LoopEngine& engine);

/// Writes the parts `parts` of `state` into the engine (relaxed atomic stores; the echo setting is
/// posted). Real-time safe. The requested voices' tables belong to the render: outside it, use
/// LoopEngine::postScene, or call this only where no render runs.
void applyScene(LoopEngine& engine, const SceneState& state, unsigned parts);

} // namespace vexla
