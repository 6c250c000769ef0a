// What the window's controls do to the loop engine, shared by the window and the headless renderer.
// Window thread only (or any single thread while no render runs).
#pragma once

#include "common/Random.h"
#include "vexla/controls/Controls.h"
#include "vexla/engine/LoopEngine.h"

#include <cstdint>
#include <string_view>

namespace vexla {

/// The window's start-up, in its order: seed the window generator, clear the echo lines, regenerateAll,
/// the controls' start positions (applyStartPositions), generateSine, then the tempo slider's first report
/// (alterEcho). Before the stream starts.
void startUp(LoopEngine& engine, common::Random& windowRandom, std::uint32_t seed);

/// The captions of the buttons that act on the engine.
inline constexpr std::string_view kEngineButtons[] = {"Sequence",   "AM Alter",   "Echo Alter", "Kick",
                                                      "Bassline 1", "Bassline 2", "Sine",       "HiHats",
                                                      "2nd Looper", "Slicer"};

/// Does what the button with this caption does; false for a caption that is not an engine button.
bool pressButton(LoopEngine& engine, common::Random& windowRandom, std::string_view caption);

/// "Sequence": one of 3, 8, 12, 16, 24, 32 by randomBelow(6), and both basslines requested. Returns the
/// count.
int pressSequence(LoopEngine& engine, common::Random& windowRandom);

} // namespace vexla
