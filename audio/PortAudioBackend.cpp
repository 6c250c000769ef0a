// The sound-device backend on PortAudio, with ALSA's and JACK's own stderr chatter silenced.
#include "audio/AudioBackend.h"
#include "audio/Bounded.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <pa_linux_alsa.h>
#include <portaudio.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>
#include <vector>

namespace audio {
namespace {

// Pa_Initialize talks to a JACK server, which may hang; give it this long.
constexpr std::chrono::milliseconds kInitialiseTimeout{4000};
constexpr int kMinFixedBlockFrames = 16;
constexpr int kMaxFixedBlockFrames = 16384;
constexpr int kMonoScratchFrames = 1024;

void silentAlsaError(const char*, int, const char*, int, const char*, ...) {}

/// Some broken sound set-ups (an empty or missing ALSA configuration) make PortAudio's device listing
/// abort the whole process on an assertion. Its start-up is tried first in a throw-away child
/// process: false when the child died of a signal or did not finish within `timeout`.
bool startUpSurvives(std::chrono::milliseconds timeout) {
    const pid_t child = ::fork();
    if (child < 0)
        return true; // cannot tell: go ahead as before
    if (child == 0) {
        // The failed assertion's text is the child's last word; the parent reports the failure itself.
        const int devNull = ::open("/dev/null", O_WRONLY);
        if (devNull >= 0)
            ::dup2(devNull, STDERR_FILENO);
        Pa_Initialize();
        ::_exit(0); // no exit handlers, no terminate: the parent's state is not the child's to tidy
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (done == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        return false;
    }
    return done < 0 || !WIFSIGNALED(status);
}

struct Device {
    PaDeviceIndex paIndex;
    std::string name;
};

class PortAudioBackend final : public Backend {
  public:
    PortAudioBackend() {
        // The hooks must be in place before PortAudio opens ALSA or looks for a JACK server.
        snd_lib_error_set_handler(&silentAlsaError);
        jack_set_error_function(&silentJackMessage);
        jack_set_info_function(&silentJackMessage);
        if (!startUpSurvives(kInitialiseTimeout)) {
            initialiseError_ = "the sound system's configuration is broken";
            return;
        }
        auto result = std::make_shared<PaError>(paNotInitialized);
        if (!runBounded([result] { *result = Pa_Initialize(); }, kInitialiseTimeout)) {
            // PortAudio is stuck inside its start-up: never call it again, not even to terminate.
            initialiseError_ = "the sound system did not answer";
            return;
        }
        if (*result != paNoError) {
            initialiseError_ = Pa_GetErrorText(*result);
            return;
        }
        initialised_ = true;
        listDevices();
    }

    ~PortAudioBackend() override {
        stop();
        if (initialised_)
            Pa_Terminate();
    }

    int deviceCount() override { return static_cast<int>(devices_.size()); }

    const char* deviceName(int index) override {
        if (index < 0 || index >= deviceCount())
            return nullptr;
        return devices_[static_cast<size_t>(index)].name.c_str();
    }

    std::string openDeviceName() override { return openName_; }

    bool start(const DeviceRequest& request, PullFunction pull, void* context, std::string& error) override {
        stop();
        if (!initialised_) {
            error = initialiseError_;
            return false;
        }
        if (request.deviceIndex < 0 || request.deviceIndex >= deviceCount()) {
            error = devices_.empty() ? "no output device found" : "no such device";
            return false;
        }
        const Device& device = devices_[static_cast<size_t>(request.deviceIndex)];
        const PaDeviceInfo* info = Pa_GetDeviceInfo(device.paIndex);
        if (!info) {
            error = "device has gone";
            return false;
        }
        pull_ = pull;
        context_ = context;
        channels_ = std::min(2, info->maxOutputChannels);
        if (channels_ == 1)
            monoScratch_.assign(static_cast<size_t>(kMonoScratchFrames) * 2, 0);

        const PaError result = openStream(request, device.paIndex, *info);
        if (result != paNoError) {
            error = Pa_GetErrorText(result);
            return false;
        }
        openName_ = device.name;
        return true;
    }

    void stop() override {
        if (!stream_)
            return;
        // Abort rather than drain: a drain waits on a device that may never play again.
        Pa_AbortStream(stream_);
        Pa_CloseStream(stream_);
        stream_ = nullptr;
        openName_.clear();
    }

  private:
    /// Opens and starts stream_ on the device; leaves it null on failure.
    PaError openStream(const DeviceRequest& request, PaDeviceIndex device, const PaDeviceInfo& info) {
        PaStreamParameters output{};
        output.device = device;
        output.channelCount = channels_;
        output.sampleFormat = paInt16;
        // The device buffers its latency on top of the one block the source renders at a time.
        const double blockSeconds = static_cast<double>(request.blockFrames) / request.sampleRate;
        output.suggestedLatency = request.latencySeconds > 0.0 ? request.latencySeconds + blockSeconds
                                                               : info.defaultLowOutputLatency;
        const bool fixedBlock =
            request.blockFrames >= kMinFixedBlockFrames && request.blockFrames <= kMaxFixedBlockFrames;
        const unsigned long framesPerBuffer =
            fixedBlock ? static_cast<unsigned long>(request.blockFrames) : paFramesPerBufferUnspecified;

        PaError result = Pa_OpenStream(&stream_, nullptr, &output, request.sampleRate, framesPerBuffer,
                                       paClipOff | paDitherOff, &PortAudioBackend::callback, this);
        // ALSA's callback thread asks for real-time (FIFO) scheduling, so that the window, a sample load
        // or a recording's writer can never hold the render back; where the system does not allow it,
        // the thread simply stays at normal priority. A JACK server runs its own real-time thread.
        const PaHostApiInfo* host = Pa_GetHostApiInfo(info.hostApi);
        if (result == paNoError && host && host->type == paALSA)
            PaAlsa_EnableRealtimeScheduling(stream_, 1);
        if (result == paNoError)
            result = Pa_StartStream(stream_);
        if (result != paNoError && stream_) {
            Pa_CloseStream(stream_);
            stream_ = nullptr;
        }
        return result;
    }

    void listDevices() {
        const PaDeviceIndex defaultDevice = Pa_GetDefaultOutputDevice();
        const PaDeviceIndex count = Pa_GetDeviceCount();
        // The system's default output comes first, so that index 0 plays where the desktop plays.
        if (defaultDevice != paNoDevice)
            addDevice(defaultDevice);
        for (PaDeviceIndex i = 0; i < count; ++i) {
            if (i != defaultDevice)
                addDevice(i);
        }
    }

    void addDevice(PaDeviceIndex index) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
        if (!info || info->maxOutputChannels < 1)
            return;
        const PaHostApiInfo* host = Pa_GetHostApiInfo(info->hostApi);
        std::string name = host ? std::string(host->name) + ": " + info->name : info->name;
        devices_.push_back({index, std::move(name)});
    }

    static int callback(const void*, void* output, unsigned long frameCount, const PaStreamCallbackTimeInfo*,
                        PaStreamCallbackFlags, void* user) {
        auto* self = static_cast<PortAudioBackend*>(user);
        auto* out = static_cast<std::int16_t*>(output);
        int frames = static_cast<int>(frameCount);
        if (self->channels_ == 2) {
            self->pull_(out, frames, self->context_);
            return paContinue;
        }
        // A mono device hears the average of left and right.
        while (frames > 0) {
            const int chunk = std::min(frames, kMonoScratchFrames);
            std::int16_t* stereo = self->monoScratch_.data();
            self->pull_(stereo, chunk, self->context_);
            for (int i = 0; i < chunk; ++i)
                *out++ = static_cast<std::int16_t>((stereo[2 * i] + stereo[2 * i + 1]) / 2);
            frames -= chunk;
        }
        return paContinue;
    }

    bool initialised_ = false;
    std::string initialiseError_;
    std::vector<Device> devices_;
    PaStream* stream_ = nullptr;
    std::string openName_;
    PullFunction pull_ = nullptr;
    void* context_ = nullptr;
    int channels_ = 2;
    std::vector<std::int16_t> monoScratch_;
};

} // namespace

std::unique_ptr<Backend> makePortAudioBackend() {
    return std::make_unique<PortAudioBackend>();
}

} // namespace audio
