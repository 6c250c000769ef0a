// A fresh folder under the system's temporary folder for one test, removed with everything in it when the
// test ends.
#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

namespace common::test {

class ScratchDir {
  public:
    explicit ScratchDir(const std::string& prefix = "vz-test") {
        static std::atomic<int> made{0};
        path_ = std::filesystem::temp_directory_path() /
                (prefix + "-" + std::to_string(::getpid()) + "-" + std::to_string(made++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    /// The path of `name` inside the folder.
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

} // namespace common::test
