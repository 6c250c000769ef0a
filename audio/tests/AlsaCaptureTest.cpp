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
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kBlockFrames = 1024;
// ALSA's null device is not paced, so the test is bounded by blocks rendered, not by time.
constexpr int kBlocksToRender = 48;

TEST(AlsaCapture, FramesTheSourceRendersReachTheDevice) {
    const common::test::ScratchDir scratch("vz-alsa-capture"); // removed however the test ends
    const std::filesystem::path& dir = scratch.path();
    const std::filesystem::path capture = dir / "capture.raw";
    const std::filesystem::path config = dir / "asound.conf";
    {
        std::ofstream out(config);
        out << "pcm.!default {\n"
               "    type file\n"
               "    slave { pcm { type null } }\n"
               "    file \""
            << capture.string()
            << "\"\n"
               "    format \"raw\"\n"
               "}\n";
    }
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

        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (ramp.calls < kBlocksToRender && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } // stopped and closed: the file is complete
    const int written = ramp.calls * kBlockFrames;
    ASSERT_GE(ramp.calls, kBlocksToRender);

    // ALSA's null device is not paced: until the stream closes it takes silence as fast as it can, and
    // on a loaded machine the file holds many millions of silent frames around ours. Read in one go.
    std::vector<std::int16_t> samples(std::filesystem::file_size(capture) / sizeof(std::int16_t));
    std::ifstream in(capture, std::ios::binary);
    ASSERT_TRUE(in.read(reinterpret_cast<char*>(samples.data()),
                        static_cast<std::streamsize>(samples.size() * sizeof(std::int16_t))));
    const size_t frames = samples.size() / 2;
    auto sample = [&](size_t index) { return samples[index]; }; // the host is little-endian, as the file
    // The device may start with silence of its own, and hears silence between the stop and the close;
    // in between, every frame is ours, in order.
    size_t first = 0;
    while (first < frames && sample(2 * first) == 0 && sample(2 * first + 1) == 0)
        ++first;
    size_t end = frames;
    while (end > first && sample(2 * (end - 1)) == 0 && sample(2 * (end - 1) + 1) == 0)
        --end;
    const size_t captured = end - first;
    ASSERT_GE(captured, static_cast<size_t>(written / 2)) << "of " << written << " frames written";
    ASSERT_LE(captured, static_cast<size_t>(written));
    int expected = 1;
    for (size_t i = 0; i < captured; ++i) {
        ASSERT_EQ(sample(2 * (first + i)), expected) << "frame " << i;
        ASSERT_EQ(sample(2 * (first + i) + 1), -expected) << "frame " << i;
        expected = CountingSource::after(expected);
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
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (source.calls < 3 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::_exit(output.playsSilently() && source.calls >= 3 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "the program died of signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the silent output did not take over";
}

} // namespace
