// Scenes of the loop engine: capturing and restoring its whole sound state as plain values. The files
// live in vexla/scene.
#pragma once

#include "vexla/engine/SceneState.h"

namespace vexla {

class LoopEngine;

/// The engine's current values; window thread. A state posted with postScene() but not yet taken is not
/// included, except what the window keeps itself from the post: the echo setting (as an "Echo Alter"),
/// the slicer, the ring modulator and the second looper (as their re-rolls).
SceneState captureScene(const LoopEngine& engine);

/// Writes the parts `parts` of `state` into the engine; the echo setting and the window's patterns go
/// through the mailbox.
/// Window thread. The requested voices' tables belong to the render: while it runs, use
/// LoopEngine::postScene instead.
void applyScene(LoopEngine& engine, const SceneState& state, unsigned parts);

/// applyScene without the echo, straight into the units: real-time safe (the render's changes), or while
/// no render runs.
void applySceneValues(LoopEngine& engine, const SceneState& state, unsigned parts);

} // namespace vexla
