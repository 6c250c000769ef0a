// The second looper's "2nd Looper" re-roll of its effect sends. Runs on the window thread into the
// window's copy, which the engine's mailbox brings to the render.
#pragma once

#include "common/Random.h"
#include "vexla/engine/SceneState.h"

namespace vexla {

/// "2nd Looper": draws the echo send (both channels), then the ring-modulator send (left channel), each
/// randomBelow(512) / 256.
void alterSecondLooper(SecondLooperSetting& sends, common::Random& random);

} // namespace vexla
