// Scene files: JSON read with a size limit and checked field by field, written atomically (temporary
// file in the same folder, fsync, rename). Control threads only; never from the audio thread.
#pragma once

#include <cstddef>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace common {

/// Scenes are small; anything larger is not one of ours and is refused before parsing.
constexpr std::size_t kSceneFileMaxBytes = 4u << 20;

/// Reads and parses a JSON file. On failure returns false, leaves `out` untouched and puts a
/// sentence for the user in `error` (missing/unreadable, too large, not JSON, truncated).
bool readJsonFile(const std::string& path, nlohmann::json& out, std::string& error,
                  std::size_t maxBytes = kSceneFileMaxBytes);

/// Writes `text` so that `path` holds either its old content or all of the new one, whatever
/// happens: a temporary file beside it, fsync, rename over, fsync of the folder.
bool writeFileAtomically(const std::string& path, const std::string& text, std::string& error);

/// Writes `scene` as indented JSON through writeFileAtomically().
bool writeJsonFile(const std::string& path, const nlohmann::json& scene, std::string& error);

/// Checks the "format" and "version" members: the format must be `formatName` and the version an
/// integer 1..maxVersion. Returns false with a message otherwise.
bool checkSceneHeader(const nlohmann::json& scene, const char* formatName, int maxVersion,
                      std::string& error);

/// Reads members of one JSON object, refusing (never clamping) missing members, wrong types and
/// values outside their ranges. The first failure is kept in error(); later reads after a failure
/// do nothing and return false, so a reader can check once at the end.
class SceneFields {
  public:
    /// `where` names the object in messages, e.g. "bassline 1".
    SceneFields(const nlohmann::json& object, std::string where);

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    bool readInt(const char* key, int min, int max, int& out);
    bool readFloat(const char* key, float min, float max, float& out);
    bool readBool(const char* key, bool& out);
    bool readString(const char* key, std::string& out);
    /// An array of exactly `count` numbers, each min..max.
    bool readInts(const char* key, int min, int max, int* out, std::size_t count);
    bool readFloats(const char* key, float min, float max, float* out, std::size_t count);
    /// A number in min..max that a control table gives: read as a whole number or as a float.
    bool readRanged(const char* key, bool whole, float min, float max, double& out);
    /// A member that is itself an object; returns nullptr (and fails) otherwise.
    const nlohmann::json* object(const char* key);
    /// Records a failure found by the caller (e.g. a cross-field check).
    void fail(const std::string& message);

  private:
    const nlohmann::json* member(const char* key, const char* what);
    template <typename T> bool readList(const char* key, double min, double max, T* out, std::size_t count);
    bool readNumber(const nlohmann::json& v, const std::string& name, double min, double max, bool integer,
                    double& out);

    const nlohmann::json& object_;
    std::string where_;
    std::string error_;
};

} // namespace common
