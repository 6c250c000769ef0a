// Scenes of the loop engine: capturing and restoring its whole sound state, and the scene file (JSON)
// with the sample paths. capture/apply on any thread (they touch only atomics); the file functions on
// a control thread, never the audio thread.
#pragma once

#include "vexla/engine/SceneState.h"

#include <array>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vexla {

class LoopEngine;
struct SampleSlot;

inline constexpr const char* kSceneFormatName = "Vexla scene";
inline constexpr int kSceneFormatVersion = 1;
inline constexpr int kSceneSlots = 5;
/// The slots in scene files and on the command line: dry, second, slicer, vcf1, vcf2.
inline constexpr std::string_view kSceneSlotNames[kSceneSlots] = {"dry", "second", "slicer", "vcf1", "vcf2"};

/// A scene as a file holds it: the sound state and the loaded samples' paths ("" for an empty slot).
struct Scene {
    SceneState state;
    std::array<std::string, kSceneSlots> samplePaths;
};

/// The engine's current values. A state posted with postScene() but not yet taken is not included,
/// except its echo setting, which the window counts from the post (as an "Echo Alter").
SceneState captureScene(const LoopEngine& engine);

/// Writes the parts `parts` of `state` into the engine; the echo setting goes through the mailbox.
/// Window thread. The requested voices' tables belong to the render: while it runs, use
/// LoopEngine::postScene instead.
void applyScene(LoopEngine& engine, const SceneState& state, unsigned parts);

/// applyScene without the echo: relaxed atomic stores only, real-time safe (the render's scene change).
void applySceneValues(LoopEngine& engine, const SceneState& state, unsigned parts);

nlohmann::json sceneToJson(const Scene& scene);

/// Reads a scene, refusing (never clamping) anything outside the controls' and generators' ranges.
/// On failure returns false with a message for the user, and `out` is untouched.
bool sceneFromJson(const nlohmann::json& json, Scene& out, std::string& error);

/// The engine's slot for scene slot i (kSceneSlotNames order).
SampleSlot& sceneSlot(LoopEngine& engine, int i);

/// Loads the scene's samples and hands them to the engine's five slots (LoopEngine::swapSample); a slot
/// whose path is empty, missing or unreadable is emptied. Returns per slot "" or why
/// it is empty. Window thread (or any thread but the audio thread).
std::array<std::string, kSceneSlots> loadSceneSamples(LoopEngine& engine, const Scene& scene);

/// Saves atomically (temporary file, fsync, rename).
bool saveSceneFile(const std::string& path, const Scene& scene, std::string& error);
/// Reads and checks a scene file; on failure `out` is untouched.
bool loadSceneFile(const std::string& path, Scene& out, std::string& error);

} // namespace vexla
