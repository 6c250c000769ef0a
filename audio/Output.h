// What a window asks of the sound output: play a source, stop it, its load, the device list. AudioOutput
// is the real one; window tests put a fake in its place. Window thread only, except Source::render().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace common {
class MidiBus;
}

namespace audio {

class JackTransport;

/// Every stream plays 44100 frames per second, signed 16-bit stereo.
inline constexpr int kSampleRate = 44100;
inline constexpr int kMaxBlockFrames = 1 << 20;
inline constexpr int kMaxLatencyMilliseconds = 2000;

/// What plays. render() runs on the output's audio thread: it fills `frames` interleaved stereo frames
/// (left, right, native byte order), and must neither allocate nor wait on a lock held for long.
class Source {
  public:
    virtual void render(std::int16_t* interleavedStereo, int frames) = 0;

  protected:
    ~Source() = default;
};

struct StreamSettings {
    int deviceIndex = 0;          ///< index into deviceNames()
    int blockFrames = 1024;       ///< frames per render() call, 1..kMaxBlockFrames
    int latencyMilliseconds = 50; ///< the device's buffering on top of one block, 0..kMaxLatencyMilliseconds
    bool autoConnect = true;      ///< JACK: connect to the playback ports (unless VZ_JACK_NO_AUTOCONNECT=1)
    /// The source's MIDI, carried where the device has MIDI ports (JACK); the bus must outlive the stream.
    common::MidiBus* midi = nullptr;
    /// JACK: what the transport does each period, for a master the source follows (needs `midi`, whose
    /// frames it counts); must outlive the stream.
    JackTransport* transport = nullptr;
    /// JACK: lead the transport as its timebase master, with the tempo `transport` reads.
    bool leadTransport = false;
};

/// Frames between the source's making a block and the block's first frame being heard: the block and
/// the buffering the settings ask for.
inline int framesUntilHeard(const StreamSettings& settings) {
    return settings.blockFrames + kSampleRate * settings.latencyMilliseconds / 1000;
}

class Output {
  public:
    virtual ~Output() = default;
    /// Plays source from now on, replacing what plays: the old source's last render() has returned before
    /// the new one opens. Without a usable device a silent output calls render() in real time instead.
    virtual void start(Source& source, const StreamSettings& settings) = 0;
    /// Returns only once no render() runs and none will. Safe to repeat.
    virtual void stop() = 0;
    /// Share of real time spent in render(), in percent, smoothed over about half a second. Polled
    /// regularly, it also notices a device that stopped playing and carries on silently without it.
    virtual float cpuLoadPercent() = 0;
    /// Readable names of the output devices, in index order.
    virtual std::vector<std::string> deviceNames() = 0;
    /// JACK: the stream that plays leads the transport as its timebase master, or stops leading (a new
    /// stream leads as its settings say). A device without a transport ignores it.
    virtual void leadTransport(bool lead) { (void)lead; }
    /// JACK: starts the transport (from its frame 0 when `fromStart`) or stops it, as a program that
    /// leads it starts or stops playing. A device without a transport ignores it.
    virtual void rollTransport(bool roll, bool fromStart = false) {
        (void)roll;
        (void)fromStart;
    }
};

} // namespace audio
