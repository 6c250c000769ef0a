// The program under test (PROGRAM_PATH) run as a user runs it, in the background, with a private JACK
// server named in its environment and its output kept in files; killed if it outlives the test.
#pragma once

#include "audio/tests/JackTestServer.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace jacktest {

inline std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

/// The program running in the background with its output in files; killed if it outlives the test.
class Program {
  public:
    Program(const std::vector<std::string>& arguments, const std::string& jackServer)
        : dir_(std::filesystem::temp_directory_path() /
               ("vz-play-" + std::to_string(getpid()) + "-" + std::to_string(counter_++))) {
        std::filesystem::create_directories(dir_);
        std::vector<std::string> words{PROGRAM_PATH};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        const std::string out = (dir_ / "out").string(), err = (dir_ / "err").string();
        pid_ = fork();
        if (pid_ == 0) {
            setenv("JACK_DEFAULT_SERVER", jackServer.c_str(), 1);
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            freopen(out.c_str(), "w", stdout);
            freopen(err.c_str(), "w", stderr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove_all(dir_);
    }

    void signal(int number) { kill(pid_, number); }

    /// The exit status, or −1 when it did not end within `limit` (it is then killed).
    int wait(std::chrono::milliseconds limit = 30s) {
        int status = 0;
        const bool ended = waitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
        if (!ended)
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string out() const { return slurp(dir_ / "out"); }
    std::string err() const { return slurp(dir_ / "err"); }
    std::filesystem::path dir() const { return dir_; }

  private:
    static inline int counter_ = 0;
    std::filesystem::path dir_;
    pid_t pid_ = -1;
};

} // namespace jacktest
