// The window program run as a user runs it, with its real sound output: --list-devices lists what the
// output sees and succeeds whether or not there is a sound card; a --device that names nothing is refused
// in one line before any window opens; --help names both. Built once per program (PROGRAM_NAME,
// PROGRAM_PATH).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

/// Runs the program with `arguments` (already quoted for the shell), bounded so that a device that
/// hangs fails the test instead of stalling it.
Outcome run(const std::string& arguments) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("vz-device-" + std::to_string(::getpid()) + "-" + PROGRAM_NAME);
    std::filesystem::create_directories(dir);
    const std::string command = "QT_QPA_PLATFORM=offscreen timeout 60 '" + std::string(PROGRAM_PATH) + "' " +
                                arguments + " >'" + (dir / "out").string() + "' 2>'" +
                                (dir / "err").string() + "' </dev/null";
    Outcome result;
    const int raw = std::system(command.c_str());
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = slurp(dir / "out");
    result.err = slurp(dir / "err");
    std::filesystem::remove_all(dir);
    return result;
}

TEST(ProgramDevice, HelpNamesTheOptionsAndListDevicesPrintsIndexedLinesAndSucceedsWithoutHardware) {
    const Outcome help = run("--help");
    ASSERT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--list-devices"), std::string::npos);
    EXPECT_NE(help.out.find("--device"), std::string::npos);

    const Outcome listed = run("--list-devices");
    ASSERT_EQ(listed.status, 0) << listed.err;
    std::istringstream lines(listed.out);
    const std::regex line(R"((\d+): .+)");
    int expected = 0;
    for (std::string text; std::getline(lines, text); ++expected) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(text, match, line)) << text;
        EXPECT_EQ(std::stoi(match[1]), expected) << text;
    }
    if (expected == 0) { // nothing but the silent output: said on stderr, not as a device
        EXPECT_NE(listed.err.find("silent"), std::string::npos) << listed.err;
    }
}

TEST(ProgramDevice, UnknownDeviceIsRefusedInOneLineNamingTheList) {
    for (const char* arguments :
         {"--device 'no such sound device'", "--device=no-such-device", "--device 999999"}) {
        const Outcome refused = run(arguments);
        EXPECT_EQ(refused.status, 2) << arguments;
        EXPECT_TRUE(refused.out.empty()) << refused.out;
        // The sound library may add its own lines on stderr; ours is one whole line.
        const std::string start = std::string(PROGRAM_NAME) + ": unknown sound device ";
        const std::size_t at = refused.err.find(start);
        ASSERT_NE(at, std::string::npos) << refused.err;
        EXPECT_TRUE(at == 0 || refused.err[at - 1] == '\n') << refused.err;
        const std::string line = refused.err.substr(at, refused.err.find('\n', at) - at);
        EXPECT_NE(line.find("--list-devices"), std::string::npos) << line;
    }
}

} // namespace
