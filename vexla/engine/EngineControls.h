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

/// "Sequence": one of 3, 8, 12, 16, 24, 32 by randomBelow(6), and both basslines requested. Returns the
/// count.
int pressSequence(LoopEngine& engine, common::Random& windowRandom);

/// A button that acts on the engine: its caption, the scene parts a press changes (what undo keeps), the
/// voice it asks the render for, if any, and what it does.
struct EngineButton {
    std::string_view caption;
    unsigned parts;
    int request; ///< a Request, or -1
    void (*press)(LoopEngine& engine, common::Random& windowRandom);
};

inline constexpr EngineButton kEngineButtons[] = {
    {"Sequence", kSceneStepCount | kSceneBass1 | kSceneBass2, -1,
     [](LoopEngine& e, common::Random& r) { pressSequence(e, r); }},
    {"AM Alter", kSceneAm, -1, [](LoopEngine& e, common::Random& r) { e.alterAm(r); }},
    {"Echo Alter", kSceneEcho, -1, [](LoopEngine& e, common::Random& r) { e.alterEcho(r); }},
    {"Kick", kSceneKick, int(Request::Kick),
     [](LoopEngine& e, common::Random&) { e.request(Request::Kick); }},
    {"Bassline 1", kSceneBass1, int(Request::Bass1),
     [](LoopEngine& e, common::Random&) { e.request(Request::Bass1); }},
    {"Bassline 2", kSceneBass2, int(Request::Bass2),
     [](LoopEngine& e, common::Random&) { e.request(Request::Bass2); }},
    {"Sine", kSceneSine, int(Request::Sine),
     [](LoopEngine& e, common::Random&) { e.request(Request::Sine); }},
    {"HiHats", kSceneHats, int(Request::Hats),
     [](LoopEngine& e, common::Random&) { e.request(Request::Hats); }},
    {"2nd Looper", kSceneSecondLooper, -1, [](LoopEngine& e, common::Random& r) { e.alterSecondLooper(r); }},
    {"Slicer", kSceneSlicer, -1, [](LoopEngine& e, common::Random& r) { e.generateSlicer(r); }},
};

/// The engine button with this caption, or null.
const EngineButton* findEngineButton(std::string_view caption);

/// Does what the button with this caption does; false for a caption that is not an engine button.
bool pressButton(LoopEngine& engine, common::Random& windowRandom, std::string_view caption);

} // namespace vexla
