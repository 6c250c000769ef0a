// Real sound devices that fail: one that is not in the list, and a JACK server (jackd's dummy driver,
// under a private server name) stopped under a running stream. The window thread must never hang,
// the source must go on being called by the silent output, and the output must say so.
#include "audio/AudioOutput.h"
#include "audio/tests/CountingSource.h"
#include "audio/tests/JackTestServer.h"

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

using jacktest::DummyJackServer;
using jacktest::waitFor;

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
    const bool noticed = jacktest::pollUntilSilent(output, longestPoll);
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
