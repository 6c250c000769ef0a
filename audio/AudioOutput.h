// The sound output: one source played on a PortAudio device (ALSA, or JACK where a server runs), on a
// JACK server as a client of its own, or, without a usable device, on a silent output that keeps
// calling it in real time. Window thread only; the source renders on the output's audio thread.
#pragma once

#include "audio/Output.h"
#include "audio/SilenceWatch.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace audio {

class Backend;
struct DeviceRequest;
class StreamLink;

class AudioOutput final : public Output {
  public:
    /// The system's sound devices, looked for on first use; a JACK client is named jackClientName.
    explicit AudioOutput(std::string jackClientName = "vz");
    /// Plays on devices (a test's stand-in); a device call that takes longer than deviceTimeout is
    /// taken for a lost device, which is left behind for the silent output.
    AudioOutput(std::unique_ptr<Backend> devices, std::chrono::milliseconds deviceTimeout);
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;
    /// Stops first.
    ~AudioOutput() override;

    void start(Source& source, const StreamSettings& settings) override;
    void stop() override;
    float cpuLoadPercent() override;
    std::vector<std::string> deviceNames() override;
    void leadTransport(bool lead) override;
    void rollTransport(bool roll, bool fromStart = false) override;

    /// True while the silent output stands in for a device that is missing, failed or was lost.
    bool playsSilently() const;
    /// Name of the device that plays; "" when none does.
    const std::string& playingDevice() const { return playingDevice_; }

  private:
    Backend& devices();
    DeviceRequest request() const;
    bool openDevice(std::string& status);
    std::string openFailure(Backend& backend, const std::string& error);
    void playSilently(const std::string& reason);
    void close();
    void replaceLostDevice();
    SilenceWatch::Clock::duration lostAfter() const;
    void releaseDevices();
    void report(const std::string& line);
    void onDevice(const std::function<void(Backend&)>& call);

    std::string jackClientName_;
    std::unique_ptr<Backend> devices_;
    bool devicesWedged_ = false; // a device call never returned: no device is tried again
    std::unique_ptr<Backend> silent_;
    Backend* running_ = nullptr;
    // Freed once its device has stopped; left behind, never freed, when the device's stop hangs.
    std::unique_ptr<StreamLink> link_;
    Source* source_ = nullptr;
    StreamSettings settings_;
    std::chrono::milliseconds timeout_;
    SilenceWatch watch_;
    std::string playingDevice_;
    std::string lastReport_;
};

} // namespace audio
