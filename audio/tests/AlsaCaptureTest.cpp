// End to end through PortAudio and ALSA: a private ALSA configuration sends the default device into
// a raw file, which must hold exactly the frames the callback wrote. Needs no sound card.
#include "audio/AudioOutput.h"
#include "audio/tests/CountingSource.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kBlockFrames = 1024;
// ALSA's null device is not paced, so the test is bounded by blocks rendered, not by time.
constexpr int kBlocksToRender = 48;

TEST(AlsaCapture, FramesTheCallbackWritesReachTheDevice) {
    char pattern[] = "/tmp/vz-alsa-capture-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = pattern;
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

    int defaultIndex = -1;
    for (int i = 0; i < FSOUND_GetNumDrivers(); ++i) {
        if (std::strcmp(FSOUND_GetDriverName(i), "ALSA: default") == 0) defaultIndex = i;
    }
    ASSERT_GE(defaultIndex, 0) << "PortAudio does not list ALSA's default device";

    CountingSource ramp;
    FSOUND_SetOutput(2);
    FSOUND_SetBufferSize(40);
    ASSERT_TRUE(FSOUND_SetDriver(defaultIndex));
    ASSERT_TRUE(FSOUND_Init(44100, 2, 0));
    FSOUND_STREAM* stream = FSOUND_Stream_Create(&CountingSource::render, kBlockFrames * 4, 121, 44100, &ramp);
    ASSERT_GE(FSOUND_Stream_Play(-1, stream), 0);
    EXPECT_FALSE(audio::usingNullOutput());
    EXPECT_STREQ(audio::currentDeviceName(), "ALSA: default");

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ramp.calls < kBlocksToRender && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(FSOUND_Stream_Stop(stream));
    const int written = ramp.calls * kBlockFrames;
    ASSERT_GE(ramp.calls, kBlocksToRender);
    FSOUND_Stream_Close(stream);
    FSOUND_Close();

    std::ifstream in(capture, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
    const size_t frames = bytes.size() / 4;
    auto sample = [&](size_t index) {
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8)));
    };
    // The device may start with silence of its own, and hears silence between the stop and the close;
    // in between, every frame is ours, in order.
    size_t first = 0;
    while (first < frames && sample(2 * first) == 0 && sample(2 * first + 1) == 0) ++first;
    size_t end = frames;
    while (end > first && sample(2 * (end - 1)) == 0 && sample(2 * (end - 1) + 1) == 0) --end;
    const size_t captured = end - first;
    ASSERT_GE(captured, static_cast<size_t>(written / 2)) << "of " << written << " frames written";
    ASSERT_LE(captured, static_cast<size_t>(written));
    int expected = 1;
    for (size_t i = 0; i < captured; ++i) {
        ASSERT_EQ(sample(2 * (first + i)), expected) << "frame " << i;
        ASSERT_EQ(sample(2 * (first + i) + 1), -expected) << "frame " << i;
        expected = CountingSource::after(expected);
    }
    std::filesystem::remove_all(dir);
}

} // namespace
