// Real sound devices that fail: one that cannot be opened, and a JACK server (jackd's dummy driver,
// under a private server name) stopped under a running stream. The window thread must never hang,
// the callbacks must go on through the paced null output, and the service must say so.
#include "audio/AudioBackend.h"
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

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

/// True when some jackd process runs on this machine.
bool anyJackServerRunning() {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        if (comm && std::getline(comm, name) && name == "jackd") return true;
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
        if (!anyJackServerRunning()) std::filesystem::remove("/dev/shm/jack-shm-registry");
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
        if (pid_ < 0) return false;
        return waitFor(
            [this] {
                int status = 0;
                if (waitpid(pid_, &status, WNOHANG) == pid_) {
                    pid_ = -1; // jackd ended (missing, or refused to start)
                    return true;
                }
                jack_status_t jackStatus;
                jack_client_t* probe = jack_client_open("vz-probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                                                        &jackStatus, name_.c_str());
                if (!probe) return false;
                jack_client_close(probe);
                return true;
            },
            10s) && pid_ > 0;
    }

    /// The server goes away under its clients, as an unplugged device would. Stopped rather than killed,
    /// so that it takes its name out of JACK's registry; killed only if it does not end within 3 s.
    void stop() {
        if (pid_ <= 0) return;
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
int jackDeviceIndex() {
    for (int i = 0; i < FSOUND_GetNumDrivers(); ++i) {
        const char* name = FSOUND_GetDriverName(i);
        if (name && std::string(name).find("JACK") != std::string::npos) return i;
    }
    return -1;
}

class DeviceFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        audio::setBackendForTesting(nullptr); // the real PortAudio device layer
        audio::setDeviceTimeoutForTesting(2000ms);
    }
    void TearDown() override {
        if (stream_) {
            FSOUND_Stream_Stop(stream_);
            FSOUND_Stream_Close(stream_);
        }
        audio::setBackendForTesting(nullptr);
    }

    FSOUND_STREAM* play(CountingSource& source, int driver) {
        FSOUND_SetOutput(2);
        FSOUND_SetBufferSize(40);
        FSOUND_SetDriver(driver);
        FSOUND_Init(44100, 16, 0);
        stream_ = FSOUND_Stream_Create(&CountingSource::render, 1024, 121, 44100, &source);
        FSOUND_Stream_Play(-1, stream_);
        return stream_;
    }

    /// True when the callback count keeps growing: the stream still plays, heard or not.
    static bool keepsCalling(const CountingSource& source) {
        const int before = source.calls;
        return waitFor([&] { return source.calls >= before + 5; }, 3s);
    }

    FSOUND_STREAM* stream_ = nullptr;
};

TEST_F(DeviceFaultTest, DeviceThatCannotOpenLeavesTheNullOutputPlayingAndSaysSo) {
    CountingSource source;
    testing::internal::CaptureStderr();
    ASSERT_NE(play(source, 9999), nullptr);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(audio::usingNullOutput());
    EXPECT_NE(said.find("running without a device"), std::string::npos) << said;
    EXPECT_TRUE(keepsCalling(source));
    FSOUND_GetCPUUsage();
    EXPECT_TRUE(keepsCalling(source));
}

TEST_F(DeviceFaultTest, JackServerStoppedUnderARunningStreamIsReplacedByTheNullOutput) {
    const std::string serverName = "vz-fault-" + std::to_string(getpid());
    // libjack, and so PortAudio's JACK host, connect to the server this names.
    setenv("JACK_DEFAULT_SERVER", serverName.c_str(), 1);
    DummyJackServer server(serverName);
    if (!server.start()) GTEST_SKIP() << "jackd did not start (the jackd2 package provides it)";
    audio::setBackendForTesting(nullptr); // PortAudio starts anew and finds the server
    const int jack = jackDeviceIndex();
    if (jack < 0) GTEST_SKIP() << "PortAudio lists no JACK device";

    CountingSource source;
    ASSERT_NE(play(source, jack), nullptr);
    ASSERT_FALSE(audio::usingNullOutput()) << "the JACK device did not open";
    ASSERT_TRUE(keepsCalling(source));

    testing::internal::CaptureStderr();
    server.stop();
    // The window polls the load twice a second; no poll may hang, and one of them notices the loss.
    Clock::duration longestPoll{};
    const bool noticed = waitFor(
        [&] {
            const auto begin = Clock::now();
            FSOUND_GetCPUUsage();
            longestPoll = std::max(longestPoll, Clock::now() - begin);
            return audio::usingNullOutput();
        },
        15s);
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(noticed);
    EXPECT_LT(longestPoll, 5s) << "a poll waited for the lost device";
    EXPECT_NE(said.find("running without a device"), std::string::npos) << said;
    EXPECT_TRUE(keepsCalling(source));

    const auto begin = Clock::now();
    EXPECT_TRUE(FSOUND_Stream_Stop(stream_));
    EXPECT_LT(Clock::now() - begin, 5s);
    const int stopped = source.calls;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(source.calls, stopped) << "a callback came after stop";
    unsetenv("JACK_DEFAULT_SERVER");
}

} // namespace
