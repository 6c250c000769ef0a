// A Link peer in a process of its own (vz_link_peer, PEER_PATH) for the tests, spoken to through pipes.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <sstream>
#include <string>
#include <thread>

namespace linktest {

using namespace std::chrono_literals;

inline const char* const kOthersAbout =
    "other Link peers are on this network: their session is not ours to move";
inline const char* const kNoDiscovery =
    "the two Link peers did not find each other within 10 s: Link discovers peers by IPv4 multicast "
    "(224.76.78.75, UDP port 20808) on the machine's interfaces that are up, and none carried it here";

/// The peer process; killed if the test ends early.
class Peer {
  public:
    explicit Peer(double bpm) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            close(in[1]);
            close(out[0]);
            const std::string tempo = std::to_string(bpm);
            execl(PEER_PATH, PEER_PATH, tempo.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        to_ = in[1];
        from_ = out[0];
    }
    ~Peer() {
        if (pid_ > 0) {
            ask("quit", 1s);
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (to_ >= 0)
            close(to_);
        if (from_ >= 0)
            close(from_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    /// Sends a command and returns its answer line ("" when none came within `limit`).
    std::string ask(const std::string& command, std::chrono::milliseconds limit = 15s) {
        const std::string line = command + "\n";
        if (write(to_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            return "";
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (true) {
            if (const auto end = pending_.find('\n'); end != std::string::npos) {
                std::string answer = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                return answer;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fd{from_, POLLIN, 0};
            if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0)
                return "";
            char buffer[256];
            const ssize_t got = read(from_, buffer, sizeof buffer);
            if (got <= 0)
                return "";
            pending_.append(buffer, static_cast<std::size_t>(got));
        }
    }
    /// Waits for the test's side to join the peer's session: "" when it alone did, else why the test
    /// cannot go on.
    std::string meet() {
        if (!(number("wait-peers 1 10") >= 1.0))
            return kNoDiscovery;
        std::this_thread::sleep_for(500ms); // a stranger's peers are counted by now too
        return number("state", 3) > 1.0 ? kOthersAbout : "";
    }
    /// The number an answer "word N ..." gives at position `index` (after the word).
    double number(const std::string& command, int index = 0) {
        std::istringstream words(ask(command));
        std::string word;
        words >> word;
        double value = NAN;
        for (int i = 0; i <= index; ++i)
            words >> value;
        return value;
    }

  private:
    pid_t pid_ = -1;
    int to_ = -1, from_ = -1;
    std::string pending_;
};

} // namespace linktest
