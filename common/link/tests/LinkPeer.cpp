// A Link peer for the tests, in a process of its own: joins the session and answers commands, one a
// line on stdin, with one line on stdout. Host times are Link's clock in microseconds, the same clock
// in every process of the machine, so that two peers' answers can be compared.
//   tempo BPM            set the session's tempo now               -> ok
//   play | stop          start (on the next bar) or stop the session -> ok
//   state                                                          -> state NOW BPM PLAYING PEERS
//   beat MICROS          the beat (quantum 4) at a host time       -> beat B
//   wait-peers N S       wait up to S seconds for N peers          -> peers N
//   wait-tempo BPM S     wait up to S seconds for the tempo        -> tempo BPM
//   wait-playing 0|1 S   wait up to S seconds for the start/stop   -> playing 0|1
//   quit
#include <ableton/Link.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

namespace {

constexpr double kQuantum = 4.0;

template <class Condition> void waitUpTo(double seconds, Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

} // namespace

int main(int argc, char** argv) {
    ableton::Link link(argc > 1 ? std::stod(argv[1]) : 120.0);
    link.enableStartStopSync(true);
    link.enable(true);
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        const auto now = link.clock().micros();
        if (command == "tempo") {
            double bpm = 0.0;
            words >> bpm;
            auto state = link.captureAppSessionState();
            state.setTempo(bpm, now);
            link.commitAppSessionState(state);
            std::printf("ok\n");
        } else if (command == "play" || command == "stop") {
            auto state = link.captureAppSessionState();
            if (command == "play")
                state.setIsPlayingAndRequestBeatAtTime(true, now, 0.0, kQuantum);
            else
                state.setIsPlaying(false, now);
            link.commitAppSessionState(state);
            std::printf("ok\n");
        } else if (command == "state") {
            const auto state = link.captureAppSessionState();
            std::printf("state %lld %.6f %d %zu\n", static_cast<long long>(now.count()), state.tempo(),
                        state.isPlaying() ? 1 : 0, link.numPeers());
        } else if (command == "beat") {
            long long micros = 0;
            words >> micros;
            const auto state = link.captureAppSessionState();
            std::printf("beat %.9f\n", state.beatAtTime(std::chrono::microseconds(micros), kQuantum));
        } else if (command == "wait-peers") {
            std::size_t peers = 0;
            double seconds = 0.0;
            words >> peers >> seconds;
            waitUpTo(seconds, [&] { return link.numPeers() >= peers; });
            std::printf("peers %zu\n", link.numPeers());
        } else if (command == "wait-tempo") {
            double bpm = 0.0, seconds = 0.0;
            words >> bpm >> seconds;
            waitUpTo(seconds, [&] { return std::abs(link.captureAppSessionState().tempo() - bpm) < 0.005; });
            std::printf("tempo %.6f\n", link.captureAppSessionState().tempo());
        } else if (command == "wait-playing") {
            int playing = 0;
            double seconds = 0.0;
            words >> playing >> seconds;
            waitUpTo(seconds, [&] { return link.captureAppSessionState().isPlaying() == (playing != 0); });
            std::printf("playing %d\n", link.captureAppSessionState().isPlaying() ? 1 : 0);
        } else if (command == "quit") {
            break;
        } else {
            std::printf("unknown %s\n", command.c_str());
        }
        std::fflush(stdout);
    }
    return 0;
}
