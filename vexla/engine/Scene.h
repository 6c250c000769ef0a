// Scenes of the loop engine: capturing and restoring its whole sound state as plain values. Any thread
// (they touch only atomics); the files live in vexla/scene.
#pragma once

#include "vexla/engine/SceneState.h"

namespace vexla {

class LoopEngine;

/// The engine's current values. A state posted with postScene() but not yet taken is not included,
/// except its echo setting, which the window counts from the post (as an "Echo Alter").
SceneState captureScene(const LoopEngine& engine);

/// Writes the parts `parts` of `state` into the engine; the echo setting goes through the mailbox.
/// Window thread. The requested voices' tables belong to the render: while it runs, use
/// LoopEngine::postScene instead.
void applyScene(LoopEngine& engine, const SceneState& state, unsigned parts);

/// applyScene without the echo: relaxed atomic stores only, real-time safe (the render's scene change).
void applySceneValues(LoopEngine& engine, const SceneState& state, unsigned parts);

} // namespace vexla
