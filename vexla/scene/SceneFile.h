// Vexla's scene files: the engine's sound state and the loaded samples' paths as JSON, every value checked
// against the range its control or generator can give. Control threads only, never the audio thread.
#pragma once

#include "vexla/engine/SceneState.h"

#include <array>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

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

nlohmann::json sceneToJson(const Scene& scene);

/// Reads a scene, refusing (never clamping) anything outside the controls' and generators' ranges.
/// On failure returns false with a message for the user, and `out` is untouched.
bool sceneFromJson(const nlohmann::json& json, Scene& out, std::string& error);

/// Saves atomically (temporary file, fsync, rename).
bool saveSceneFile(const std::string& path, const Scene& scene, std::string& error);
/// Reads and checks a scene file; on failure `out` is untouched.
bool loadSceneFile(const std::string& path, Scene& out, std::string& error);

/// The engine's slot for scene slot i (kSceneSlotNames order).
SampleSlot& sceneSlot(LoopEngine& engine, int i);

/// Loads the scene's samples into the five slots, each swapped in under engineLock with the loopers
/// stopped; a slot whose path is empty, missing or unreadable is emptied. Returns per slot "" or why
/// it is empty. Window thread (or any thread but the audio thread).
std::array<std::string, kSceneSlots> loadSceneSamples(LoopEngine& engine, const Scene& scene);

} // namespace vexla
