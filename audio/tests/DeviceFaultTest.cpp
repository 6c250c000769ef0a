// Real sound devices that fail: one that is not in the list, and a JACK server (jackd's dummy driver,
// under a private server name) stopped under a running stream. The window thread must never hang,
// the source must go on being called by the silent output, and the output must say so.
#include "audio/AudioOutput.h"
#include "audio/tests/CountingSource.h"

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

/// True when some jackd process runs on this machine.
bool anyJackServerRunning() {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        if (comm && std::getline(comm, name) && name == "jackd")
            return true;
    }
    return false;
}

/// A jackd with the dummy driver under its own server name, so that no other JACK user is touched.
class DummyJackServer {
  public:
    explicit DummyJackServer(std::string name) : name_(std::move(name)) {}
    ~DummyJackServer() { stop(); }

    /// Starts jackd and waits until a client can connect; false when jackd is missing or never answers.
    bool start() {
        // JACK keeps eight server names in a shared registry, and a server that was killed (by an
        // interrupted run of this test, say) leaves its name there for good: with no jackd running at
        // all, the registry holds only such leftovers, and jackd makes a new one.
        if (!anyJackServerRunning())
            std::filesystem::remove("/dev/shm/jack-shm-registry");
        pid_ = fork();
        if (pid_ == 0) {
            const int devnull = ::open("/dev/null", O_WRONLY);
            if (devnull >= 0) {
                dup2(devnull, STDOUT_FILENO);
                dup2(devnull, STDERR_FILENO);
            }
            execlp("jackd", "jackd", "-r", "-n", name_.c_str(), "-d", "dummy", "-r", "44100", "-p", "256",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid_ < 0)
            return false;
        return waitFor(
                   [this] {
                       int status = 0;
                       if (waitpid(pid_, &status, WNOHANG) == pid_) {
                           pid_ = -1; // jackd ended (missing, or refused to start)
                           return true;
                       }
                       jack_status_t jackStatus;
                       jack_client_t* probe = jack_client_open(
                           "vz-probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                           &jackStatus, name_.c_str());
                       if (!probe)
                           return false;
                       jack_client_close(probe);
                       return true;
                   },
                   10s) &&
               pid_ > 0;
    }

    /// The server goes away under its clients, as an unplugged device would. Stopped rather than killed,
    /// so that it takes its name out of JACK's registry; killed only if it does not end within 3 s.
    void stop() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        if (!waitFor([this] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, 3s)) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

  private:
    std::string name_;
    pid_t pid_ = -1;
};

/// The index of the first device whose name mentions JACK, or −1.
int jackDeviceIndex(audio::AudioOutput& output) {
    const std::vector<std::string> names = output.deviceNames();
    for (size_t index = 0; index < names.size(); ++index) {
        if (names[index].find("JACK") != std::string::npos)
            return static_cast<int>(index);
    }
    return -1;
}

/// True when the call count keeps growing: the source still plays, heard or not.
bool keepsCalling(const CountingSource& source) {
    const int before = source.calls;
    return waitFor([&] { return source.calls >= before + 5; }, 3s);
}

constexpr audio::StreamSettings settingsOn(int deviceIndex) {
    return {deviceIndex, 256, 40};
}

TEST(DeviceFaultTest, ADeviceIndexBeyondTheListLeavesTheSilentOutputPlaying) {
    // The real device layer must check the index itself: the list can shrink between runs.
    CountingSource source;
    audio::AudioOutput output; // the real device layer
    testing::internal::CaptureStderr();
    output.start(source, settingsOn(9999));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(output.playsSilently());
    EXPECT_NE(said.find("running without a device"), std::string::npos) << said;
    EXPECT_TRUE(keepsCalling(source));
    output.cpuLoadPercent();
    EXPECT_TRUE(keepsCalling(source));
}

TEST(DeviceFaultTest, JackServerStoppedUnderARunningStreamIsReplacedByTheSilentOutput) {
    const std::string serverName = "vz-fault-" + std::to_string(getpid());
    // libjack, and so PortAudio's JACK host, connect to the server this names.
    setenv("JACK_DEFAULT_SERVER", serverName.c_str(), 1);
    CountingSource source;
    DummyJackServer server(serverName);
    if (!server.start())
        GTEST_SKIP() << "jackd did not start (the jackd2 package provides it)";
    audio::AudioOutput output; // looks for devices now, and finds the server
    const int jack = jackDeviceIndex(output);
    if (jack < 0)
        GTEST_SKIP() << "PortAudio lists no JACK device";

    output.start(source, settingsOn(jack));
    ASSERT_FALSE(output.playsSilently()) << "the JACK device did not open";
    ASSERT_TRUE(keepsCalling(source));

    testing::internal::CaptureStderr();
    server.stop();
    // The window polls the load twice a second; no poll may hang, and one of them notices the loss.
    Clock::duration longestPoll{};
    const bool noticed = waitFor(
        [&] {
            const auto begin = Clock::now();
            output.cpuLoadPercent();
            longestPoll = std::max(longestPoll, Clock::now() - begin);
            return output.playsSilently();
        },
        15s);
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(noticed);
    EXPECT_LT(longestPoll, 5s) << "a poll waited for the lost device";
    EXPECT_NE(said.find("running without a device"), std::string::npos) << said;
    EXPECT_TRUE(keepsCalling(source));

    const auto begin = Clock::now();
    output.stop();
    EXPECT_LT(Clock::now() - begin, 5s);
    EXPECT_TRUE(source.staysSilent()) << "a render came after stop";
    unsetenv("JACK_DEFAULT_SERVER");
}

} // namespace
