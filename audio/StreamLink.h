// The link between one opening of a device and the source it plays: hands the source's blocks out in
// whatever slices the device asks for, and measures the load. pull() runs on the device's thread,
// everything else on the window thread.
#pragma once

#include "audio/Output.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace audio {

class StreamLink {
  public:
    /// Source renders blockFrames frames at a time, at sampleRate frames per second.
    StreamLink(Source& source, int blockFrames, int sampleRate);
    StreamLink(const StreamLink&) = delete;
    StreamLink& operator=(const StreamLink&) = delete;

    /// The device's pull function (see Backend): fills frames interleaved stereo frames into out;
    /// context is the link. Silence once detached.
    static void pull(std::int16_t* out, int frames, void* context);

    /// After this returns no render() of the source runs, whatever the device still does.
    void detach();

    /// Share of real time spent in render(), in percent, smoothed.
    float loadPercent() const { return loadPercent_.load(std::memory_order_relaxed); }
    /// How often the device has pulled: lets the window thread see that it still plays.
    std::uint32_t pullCount() const { return pulls_.load(std::memory_order_relaxed); }

  private:
    void play(Source& source, std::int16_t* out, int frames);
    void renderBlock(Source& source, std::int16_t* block);

    std::atomic<Source*> source_;
    std::atomic<bool> busy_{false};
    std::atomic<float> loadPercent_{0.0f};
    std::atomic<std::uint32_t> pulls_{0};
    const int blockFrames_;
    const double blockSeconds_;
    // The device thread's alone while attached: the block that device slices are cut from.
    std::vector<std::int16_t> block_;
    int readFrame_; // next frame of block_ to hand out; blockFrames_ when it is used up
    float smoothedLoad_ = 0.0f;
};

} // namespace audio
