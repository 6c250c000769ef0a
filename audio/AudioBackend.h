// The device layer under the audio output service: opens one output and pulls frames from the service.
// Every Backend operation is called by AudioOutput on the window thread (or a helper it waits for);
// the PullFunction runs on the backend's audio thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace common {
class MidiBus;
}

namespace audio {

class JackTransport;

/// Fills frameCount interleaved signed 16-bit stereo frames (native byte order) into out.
/// Audio thread only; never allocates, never blocks.
using PullFunction = void (*)(std::int16_t* out, int frameCount, void* context);

struct DeviceRequest {
    int deviceIndex = 0;          ///< index into the backend's device list
    int sampleRate = 44100;       ///< frames per second
    int blockFrames = 1024;       ///< frames the source renders at a time, 1 or more
    double latencySeconds = 0.05; ///< device latency on top of the source's block
    bool autoConnect = true;      ///< JACK: connect the outputs to the system's playback ports
    /// JACK: the render's MIDI, both ways, on the client's "midi_out" and "midi_in" ports; emptied when
    /// the device opens, whose first frame is then the render's next. Null: the MIDI ports stay quiet.
    common::MidiBus* midi = nullptr;
    /// JACK: where each period's look at the transport goes (its frames the MIDI bus's stream frames, so
    /// it needs `midi`), emptied when the device opens. Null: the transport is not looked at.
    JackTransport* transport = nullptr;
    /// JACK: be the transport's timebase master, with bar, beat and tempo from `transport`'s own tempo.
    bool leadTransport = false;
};

class Backend {
  public:
    virtual ~Backend() = default;

    /// Output devices of this backend; a backend with none answers 0.
    virtual int deviceCount() = 0;
    /// Readable name, or null for an index out of range; valid while the backend lives.
    virtual const char* deviceName(int index) = 0;

    /// Opens and starts the device; pull then runs on the device's thread until stop().
    /// On failure returns false with a short reason in error.
    virtual bool start(const DeviceRequest& request, PullFunction pull, void* context,
                       std::string& error) = 0;
    /// Stops the callbacks and closes the device. May block if the device is lost: AudioOutput
    /// bounds it and abandons the backend when it does not return.
    virtual void stop() = 0;
    /// Name of the device start() opened.
    virtual std::string openDeviceName() = 0;
    /// True once the opened device has said it is gone (a JACK server that shut down), so that the
    /// output need not wait for its callbacks to stop. Window thread.
    virtual bool lost() { return false; }
    /// JACK: becomes the transport's timebase master, or gives it up, while the device plays; a device
    /// without a transport ignores it. Window thread.
    virtual void leadTransport(bool /*lead*/) {}
    /// JACK: starts the transport (from frame 0 when `fromStart`) or stops it. Window thread.
    virtual void rollTransport(bool /*roll*/, bool /*fromStart*/) {}
};

/// The paced null output: a thread that pulls frames in real time and throws them away.
std::unique_ptr<Backend> makeNullBackend();
/// The PortAudio device backend.
std::unique_ptr<Backend> makePortAudioBackend();
/// The native JACK backend: one device, "jack", listed only when a JACK server answered at creation
/// (none is ever started). It plays as a client named clientName with the ports "out_left" and
/// "out_right", "midi_out" and "midi_in", and refuses a server whose sample rate is not the request's.
std::unique_ptr<Backend> makeJackBackend(const std::string& clientName);
/// The system's devices: PortAudio's, then the JACK device when a server answers.
std::unique_ptr<Backend> makeSystemBackend(const std::string& jackClientName);

/// Stands in for JACK's error and info printers: the backends report what matters themselves.
inline void silentJackMessage(const char*) {}

} // namespace audio
