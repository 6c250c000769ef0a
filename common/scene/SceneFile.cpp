// Scene files: bounded JSON reading, atomic writing, and range-checked member reads.
#include "common/scene/SceneFile.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>

namespace common {

namespace {

std::string systemError(const char* what, const std::string& path) {
    return std::string(what) + " \"" + path + "\": " + std::strerror(errno);
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string formatRange(double min, double max, bool integer) {
    char buf[96];
    if (integer)
        std::snprintf(buf, sizeof buf, "%.0f..%.0f", min, max);
    else
        std::snprintf(buf, sizeof buf, "%g..%g", min, max);
    return buf;
}

} // namespace

bool readJsonFile(const std::string& path, nlohmann::json& out, std::string& error, std::size_t maxBytes) {
    // Without O_NONBLOCK a named pipe with no writer would block here until one appears.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = systemError("Cannot open", path);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = "\"" + path + "\" is not a regular file.";
        return false;
    }
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        ::close(fd);
        error = "\"" + path + "\" is too large to be a scene.";
        return false;
    }
    std::string text;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = systemError("Cannot read", path);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        text.append(buf, static_cast<std::size_t>(n));
        // The file may grow while it is read; the limit holds for what is read.
        if (text.size() > maxBytes) {
            ::close(fd);
            error = "\"" + path + "\" is too large to be a scene.";
            return false;
        }
    }
    ::close(fd);
    nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
    if (parsed.is_discarded()) {
        error = "\"" + path + "\" is not a scene: it is not valid JSON (damaged or truncated).";
        return false;
    }
    out = std::move(parsed);
    return true;
}

bool writeFileAtomically(const std::string& givenPath, const std::string& text, std::string& error) {
    // Saving through a symbolic link saves its target (the link stays a link); a pipe, a device or a
    // folder at the path is refused, never replaced; an existing file keeps its mode and owner.
    std::error_code ec;
    const std::string path = std::filesystem::is_symlink(givenPath, ec)
                                 ? std::filesystem::weakly_canonical(givenPath, ec).string()
                                 : givenPath;
    if (path.empty()) {
        error = "Cannot save to \"" + givenPath + "\": the link leads nowhere.";
        return false;
    }
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        error = "Cannot save to \"" + givenPath + "\": it is not a regular file.";
        return false;
    }
    const std::string folder = folderOf(path);
    std::string tmp = path + ".tmp-XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) {
        error = systemError("Cannot create a file in", folder);
        return false;
    }
    if (exists) {
        ::fchmod(fd, existing.st_mode & 07777);
        if (::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
            // Only root may give a file away; anyone else keeps it as their own.
        }
    } else {
        ::fchmod(fd, 0644);
    }
    bool written = writeAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
    const int writeErrno = errno;
    if (::close(fd) != 0)
        written = false;
    else if (!written)
        errno = writeErrno;
    if (!written) {
        error = systemError("Cannot write", path);
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        error = systemError("Cannot replace", path);
        ::unlink(tmp.c_str());
        return false;
    }
    // The rename itself must reach the disk, or a crash could bring the old name back.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

bool writeJsonFile(const std::string& path, const nlohmann::json& scene, std::string& error) {
    std::string text;
    try {
        text = scene.dump(1, '\t');
    } catch (const nlohmann::json::exception& e) {
        error = std::string("Cannot write the scene: ") + e.what();
        return false;
    }
    text += '\n';
    return writeFileAtomically(path, text, error);
}

bool checkSceneHeader(const nlohmann::json& scene, const char* formatName, int maxVersion,
                      std::string& error) {
    if (!scene.is_object()) {
        error = "This file is not a scene.";
        return false;
    }
    const auto format = scene.find("format");
    if (format == scene.end() || !format->is_string()) {
        error = "This file is not a scene: it has no format name.";
        return false;
    }
    if (format->get<std::string>() != formatName) {
        error = "This is a \"" + format->get<std::string>() + "\" file, not a " + formatName + ".";
        return false;
    }
    const auto version = scene.find("version");
    if (version == scene.end() || !version->is_number_integer() || version->get<long long>() < 1) {
        error = "This scene has no valid format version.";
        return false;
    }
    if (version->get<long long>() > maxVersion) {
        error = "This scene was saved in a newer format (version " +
                std::to_string(version->get<long long>()) + "); this program reads up to version " +
                std::to_string(maxVersion) + ".";
        return false;
    }
    return true;
}

SceneFields::SceneFields(const nlohmann::json& object, std::string where)
    : object_(object), where_(std::move(where)) {
    if (!object_.is_object())
        error_ = "The scene's " + where_ + " is not an object.";
}

void SceneFields::fail(const std::string& message) {
    if (error_.empty())
        error_ = message;
}

const nlohmann::json* SceneFields::member(const char* key, const char* what) {
    if (!ok())
        return nullptr;
    const auto it = object_.find(key);
    if (it == object_.end()) {
        fail("The scene's " + where_ + " lacks \"" + key + "\" (" + what + ").");
        return nullptr;
    }
    return &*it;
}

bool SceneFields::readNumber(const nlohmann::json& v, const std::string& name, double min, double max,
                             bool integer, double& out) {
    if (!v.is_number() || (integer && !v.is_number_integer())) {
        fail("The scene's " + where_ + " \"" + name + "\" is not " +
             (integer ? "a whole number." : "a number."));
        return false;
    }
    const double d = v.get<double>();
    if (!std::isfinite(d) || d < min || d > max) {
        fail("The scene's " + where_ + " \"" + name + "\" is out of range (" +
             formatRange(min, max, integer) + ").");
        return false;
    }
    out = d;
    return true;
}

bool SceneFields::readInt(const char* key, int min, int max, int& out) {
    const nlohmann::json* v = member(key, "a whole number");
    double d = 0;
    if (!v || !readNumber(*v, key, min, max, true, d))
        return false;
    out = static_cast<int>(d);
    return true;
}

bool SceneFields::readFloat(const char* key, float min, float max, float& out) {
    const nlohmann::json* v = member(key, "a number");
    double d = 0;
    if (!v || !readNumber(*v, key, min, max, false, d))
        return false;
    out = static_cast<float>(d);
    return true;
}

bool SceneFields::readBool(const char* key, bool& out) {
    const nlohmann::json* v = member(key, "true or false");
    if (!v)
        return false;
    if (!v->is_boolean()) {
        fail("The scene's " + where_ + " \"" + key + "\" is not true or false.");
        return false;
    }
    out = v->get<bool>();
    return true;
}

bool SceneFields::readString(const char* key, std::string& out) {
    const nlohmann::json* v = member(key, "a text");
    if (!v)
        return false;
    if (!v->is_string()) {
        fail("The scene's " + where_ + " \"" + key + "\" is not a text.");
        return false;
    }
    out = v->get<std::string>();
    return true;
}

template <typename T>
bool SceneFields::readList(const char* key, double min, double max, T* out, std::size_t count) {
    constexpr bool whole = std::is_integral_v<T>;
    const nlohmann::json* v = member(key, whole ? "a list of whole numbers" : "a list of numbers");
    if (!v)
        return false;
    if (!v->is_array() || v->size() != count) {
        fail("The scene's " + where_ + " \"" + key + "\" is not a list of " + std::to_string(count) +
             " values.");
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        double d = 0;
        if (!readNumber((*v)[i], std::string(key) + "[" + std::to_string(i) + "]", min, max, whole, d))
            return false;
        out[i] = static_cast<T>(d);
    }
    return true;
}

bool SceneFields::readInts(const char* key, int min, int max, int* out, std::size_t count) {
    return readList(key, min, max, out, count);
}

bool SceneFields::readFloats(const char* key, float min, float max, float* out, std::size_t count) {
    return readList(key, min, max, out, count);
}

bool SceneFields::readRanged(const char* key, bool whole, float min, float max, double& out) {
    if (whole) {
        int v = 0;
        if (!readInt(key, static_cast<int>(min), static_cast<int>(max), v))
            return false;
        out = v;
        return true;
    }
    float v = 0.0f;
    if (!readFloat(key, min, max, v))
        return false;
    out = v;
    return true;
}

const nlohmann::json* SceneFields::object(const char* key) {
    const nlohmann::json* v = member(key, "a group of values");
    if (!v)
        return nullptr;
    if (!v->is_object()) {
        fail("The scene's " + where_ + " \"" + key + "\" is not a group of values.");
        return nullptr;
    }
    return v;
}

} // namespace common
