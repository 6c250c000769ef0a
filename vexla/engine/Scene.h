// Scenes of the loop engine: capturing and restoring its whole sound state as plain values. The files
// live in vexla/scene.
#pragma once

#include "vexla/engine/SceneState.h"

namespace vexla {

class LoopEngine;

/// The engine's values as the window knows them; window thread. The echo setting and the patterns count
/// from their post (re-rolls and scenes alike, taken or not); a request served by the render counts once
/// the window has collected it (LoopEngine::collectChanges).
SceneState captureScene(const LoopEngine& engine);

/// Writes the parts `parts` of `state` into the engine: the controls at once, the echo setting and the
/// patterns through the mailbox (taken at the next block). Window thread; while the render runs, the
/// requested voices go with LoopEngine::postScene instead, at a step boundary.
void applyScene(LoopEngine& engine, const SceneState& state, unsigned parts);

/// applyScene without the echo, straight into the units: real-time safe (the render's changes), or while
/// no render runs.
void applySceneValues(LoopEngine& engine, const SceneState& state, unsigned parts);
/// The reverse for the patterns: the units' own patterns of `parts` into `state`. Audio thread, or while
/// no render runs.
void captureUnitPatterns(const LoopEngine& engine, SceneState& state, unsigned parts);

} // namespace vexla
