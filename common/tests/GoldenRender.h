// Golden renders: a checksum of each whole output file, kept in a text file beside the test, so that a
// change meant to keep the sound shows every byte it changed. Regenerate with VZ_UPDATE_GOLDEN=1.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace golden {

/// FNV-1a, 64 bits, over a whole file; 0 when it cannot be read.
inline std::uint64_t fileChecksum(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return 0;
    std::uint64_t hash = 14695981039346656037ull;
    for (std::istreambuf_iterator<char> it(in), end; it != end; ++it) {
        hash ^= static_cast<unsigned char>(*it);
        hash *= 1099511628211ull;
    }
    return hash;
}

inline std::string hex(std::uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

/// The checksums of a golden file: "name checksum" per line.
class Table {
  public:
    explicit Table(std::string path) : path_(std::move(path)) {
        std::ifstream in(path_);
        std::string name, sum;
        while (in >> name >> sum)
            expected_[name] = sum;
    }
    ~Table() {
        if (!updating())
            return;
        std::ofstream out(path_);
        for (const auto& [name, sum] : actual_)
            out << name << ' ' << sum << '\n';
    }

    static bool updating() {
        const char* flag = std::getenv("VZ_UPDATE_GOLDEN");
        return flag && *flag && std::string(flag) != "0";
    }

    /// Records the file's checksum under `name` and, unless regenerating, expects the stored one.
    void check(const std::string& name, const std::string& outputPath) {
        const std::string sum = hex(fileChecksum(outputPath));
        actual_[name] = sum;
        if (updating())
            return;
        const auto it = expected_.find(name);
        ASSERT_NE(it, expected_.end())
            << "no golden checksum for " << name << " (regenerate with VZ_UPDATE_GOLDEN=1)";
        EXPECT_EQ(sum, it->second) << name << " renders differently from its golden checksum";
    }

  private:
    std::string path_;
    std::map<std::string, std::string> expected_;
    std::map<std::string, std::string> actual_;
};

/// Runs a program's command line, `entry(argc, argv)`, with `program` as its name; its report on
/// stdout is kept out of the test's log. Returns the exit status.
inline int runProgram(const char* program, int (*entry)(int, char**), std::vector<std::string> args) {
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& s : args)
        argv.push_back(s.data());
    ::testing::internal::CaptureStdout();
    const int status = entry(static_cast<int>(argv.size()), argv.data());
    ::testing::internal::GetCapturedStdout();
    return status;
}

/// A scene to render: its name in the golden file and the command-line options after the length.
struct Case {
    const char* name;
    std::vector<std::string> args;
};

/// Renders three seconds of each case into `output` with `run(args) -> exit status`, then opens the
/// scene that the case "scene-saved" saved to `scene` with another seed and block size (it must render
/// the same), and once more with `changes` after it; checks every output against the golden file.
template <class Run>
void renderAndCheck(const std::string& goldenFile, const std::vector<Case>& cases, const std::string& output,
                    const std::string& scene, const std::vector<std::string>& changes, Run run) {
    Table table(goldenFile);
    const auto render = [&](const std::string& name, std::vector<std::string> args) {
        args.insert(args.begin(), {"--render", output, "--frames", "132300"});
        ASSERT_EQ(run(args), 0) << name;
        table.check(name, output);
    };
    for (const Case& c : cases)
        render(c.name, c.args);
    render("scene-saved", {"--seed", "77", "--block", "7", "--scene", scene});
    std::vector<std::string> changed = {"--seed", "78", "--scene", scene};
    changed.insert(changed.end(), changes.begin(), changes.end());
    render("scene-opened-and-changed", changed);
}

} // namespace golden
