// Zintor's scene files: the whole sound state as JSON, read with every value checked against the range
// its control or generator can give, written atomically. Window thread or the command line; never the
// audio thread.
#pragma once

#include "zintor/engine/SynthState.h"

#include <string>

#include <nlohmann/json_fwd.hpp>

namespace zintor {

inline constexpr const char* kSceneFormatName = "Zintor scene";
inline constexpr int kSceneFormatVersion = 1;

nlohmann::json sceneToJson(const SynthState& state);

/// Reads a scene, refusing (never clamping) a missing member, a wrong type or a value outside its
/// range. On failure returns false with a sentence for the user, and `out` is untouched.
bool sceneFromJson(const nlohmann::json& json, SynthState& out, std::string& error);

/// Saves atomically: a crash during the save leaves the old file or the whole new one.
bool saveSceneFile(const std::string& path, const SynthState& state, std::string& error);
/// Reads and checks a scene file; on failure `out` is untouched and `error` says why.
bool loadSceneFile(const std::string& path, SynthState& out, std::string& error);

} // namespace zintor
