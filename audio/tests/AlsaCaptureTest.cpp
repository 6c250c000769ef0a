// End to end through PortAudio and ALSA: a private ALSA configuration sends the default device into
// a raw file, which must hold exactly the frames the source rendered. Needs no sound card.
#include "audio/AudioOutput.h"
#include "audio/tests/CountingSource.h"
#include "common/tests/ScratchDir.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kBlockFrames = 1024;

/// Waits (at most 20 s) until `source` has rendered `blocks` blocks.
bool rendered(const CountingSource& source, int blocks) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (source.calls < blocks && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return source.calls >= blocks;
}

TEST(AlsaCapture, FramesTheSourceRendersReachTheDeviceAndAnIndexBeyondTheListPlaysSilently) {
    const common::test::ScratchDir scratch("vz-alsa-capture"); // removed however the test ends
    const std::filesystem::path capture = scratch.path() / "capture.raw";
    const std::filesystem::path config = scratch.path() / "asound.conf";
    std::ofstream(config) << "pcm.!default { type file slave { pcm { type null } } file \""
                          << capture.string() << "\" format \"raw\" }\n";
    // Must happen before PortAudio (and with it ALSA) reads any configuration.
    ASSERT_EQ(setenv("ALSA_CONFIG_PATH", config.c_str(), 1), 0);

    CountingSource ramp;
    {
        audio::AudioOutput output; // PortAudio, and with it ALSA, starts here
        const std::vector<std::string> names = output.deviceNames();
        const auto found = std::find(names.begin(), names.end(), "ALSA: default");
        ASSERT_NE(found, names.end()) << "PortAudio does not list ALSA's default device";
        output.start(ramp, {static_cast<int>(found - names.begin()), kBlockFrames, 40});
        EXPECT_FALSE(output.playsSilently());
        EXPECT_EQ(output.playingDevice(), "ALSA: default");
        // ALSA's null device is not paced, so the test is bounded by blocks rendered, not by time.
        ASSERT_TRUE(rendered(ramp, 48));
        output.stop(); // the file is complete
        const int written = ramp.calls * kBlockFrames;

        // The device layer checks the index itself (the list can shrink between runs); the silent output
        // then calls in real time: one 10 ms block per 10 ms at most, plus the one it starts with.
        CountingSource elsewhere;
        const auto begin = std::chrono::steady_clock::now();
        testing::internal::CaptureStderr();
        output.start(elsewhere, {9999, 441, 40});
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(output.playsSilently());
        EXPECT_EQ(output.playingDevice(), "");
        EXPECT_NE(said.find("running without a device"), std::string::npos) << said;
        EXPECT_TRUE(rendered(elsewhere, 20));
        const int calls = elsewhere.calls;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        EXPECT_LE(calls, static_cast<int>(elapsed / 0.010) + 1);
        output.stop();

        // Until the stream closes, the unpaced device takes silence as fast as it can: on a loaded machine
        // the file holds many millions of silent frames around ours. Read in one go; the host is
        // little-endian, as the file.
        std::vector<std::int16_t> samples(std::filesystem::file_size(capture) / sizeof(std::int16_t));
        std::ifstream in(capture, std::ios::binary);
        ASSERT_TRUE(in.read(reinterpret_cast<char*>(samples.data()),
                            static_cast<std::streamsize>(samples.size() * sizeof(std::int16_t))));
        // The device may start with silence of its own, and hears silence between the stop and the close;
        // in between, every frame is ours, in order.
        const auto sound = [](std::int16_t sample) { return sample != 0; };
        const auto first = std::find_if(samples.begin(), samples.end(), sound) - samples.begin();
        const auto end = samples.rend() - std::find_if(samples.rbegin(), samples.rend(), sound);
        ASSERT_TRUE(first % 2 == 0 && end % 2 == 0) << "not whole frames";
        const auto captured = (end - first) / 2;
        ASSERT_GE(captured, written / 2) << "of " << written << " frames written";
        ASSERT_LE(captured, written);
        int expected = 1;
        for (auto i = first; i < end; i += 2) {
            ASSERT_EQ(samples[i], expected) << "frame " << (i - first) / 2;
            ASSERT_EQ(samples[i + 1], -expected) << "frame " << (i - first) / 2;
            expected = CountingSource::after(expected);
        }
    }
}

TEST(AlsaCapture, ABrokenConfigurationPlaysTheSilentOutputInsteadOfAborting) {
    // ALSA reads its configuration once per process: try it in a child of its own.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setenv("ALSA_CONFIG_PATH", "/dev/null", 1);
        CountingSource source;
        audio::AudioOutput output;
        output.start(source, {0, kBlockFrames, 40});
        ::_exit(rendered(source, 3) && output.playsSilently() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "the program died of signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the silent output did not take over";
}

} // namespace
