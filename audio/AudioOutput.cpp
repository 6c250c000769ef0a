// The sound output: which backend plays, the hand-over from one opening to the next, and the way around
// a device that fails, hangs or disappears.
#include "audio/AudioOutput.h"

#include "audio/AudioBackend.h"
#include "audio/Bounded.h"
#include "audio/StreamLink.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace audio {
namespace {

constexpr std::chrono::milliseconds kDefaultDeviceTimeout{2000};
const std::string kPlayingSilently = "; running without a device";

/// Objects a hung device call may still use: kept reachable and never freed.
void abandon(void* object) {
    static std::mutex mutex;
    static auto* abandoned = new std::vector<void*>;
    std::lock_guard lock(mutex);
    abandoned->push_back(object);
}

} // namespace

AudioOutput::AudioOutput(std::string jackClientName) : AudioOutput(nullptr, kDefaultDeviceTimeout) {
    jackClientName_ = std::move(jackClientName);
}

AudioOutput::AudioOutput(std::unique_ptr<Backend> devices, std::chrono::milliseconds deviceTimeout)
    : devices_(std::move(devices)), timeout_(deviceTimeout) {}

AudioOutput::~AudioOutput() {
    stop();
    releaseDevices();
}

void AudioOutput::start(Source& source, const StreamSettings& settings) {
    close();
    source_ = &source;
    settings_ = settings;
    settings_.blockFrames = std::clamp(settings.blockFrames, 1, kMaxBlockFrames);
    settings_.latencyMilliseconds = std::clamp(settings.latencyMilliseconds, 0, kMaxLatencyMilliseconds);
    std::string status = "audio: the sound device stopped answering" + kPlayingSilently;
    if (!devicesWedged_ && openDevice(status))
        report(status);
    else
        playSilently(status);
}

void AudioOutput::stop() {
    close();
    source_ = nullptr;
}

float AudioOutput::cpuLoadPercent() {
    if (link_ && running_ == devices_.get() &&
        (devices_->lost() || watch_.lost(link_->pullCount(), lostAfter())))
        replaceLostDevice();
    return link_ ? link_->loadPercent() : 0.0f;
}

std::vector<std::string> AudioOutput::deviceNames() {
    Backend& backend = devices();
    std::vector<std::string> names;
    for (int index = 0; index < backend.deviceCount(); ++index) {
        const char* name = backend.deviceName(index);
        names.push_back(name ? name : "Device " + std::to_string(index));
    }
    return names;
}

void AudioOutput::leadTransport(bool lead) {
    settings_.leadTransport = lead;
    onDevice([lead](Backend& device) { device.leadTransport(lead); });
}

void AudioOutput::rollTransport(bool roll, bool fromStart) {
    onDevice([roll, fromStart](Backend& device) { device.rollTransport(roll, fromStart); });
}

/// A call into the device that plays, if one does; one that does not return leaves the devices behind.
void AudioOutput::onDevice(const std::function<void(Backend&)>& call) {
    if (!link_ || running_ != devices_.get() || devicesWedged_)
        return;
    Backend* device = running_;
    if (!runBounded([device, call] { call(*device); }, timeout_))
        devicesWedged_ = true; // the lost device is noticed and replaced at the next poll
}

bool AudioOutput::playsSilently() const {
    return link_ && running_ == silent_.get();
}

Backend& AudioOutput::devices() {
    if (!devices_)
        devices_ = makeSystemBackend(jackClientName_);
    return *devices_;
}

DeviceRequest AudioOutput::request() const {
    DeviceRequest request;
    request.deviceIndex = settings_.deviceIndex;
    request.sampleRate = kSampleRate;
    request.blockFrames = settings_.blockFrames;
    request.latencySeconds = settings_.latencyMilliseconds / 1000.0;
    const char* noAutoConnect = std::getenv("VZ_JACK_NO_AUTOCONNECT");
    request.autoConnect = settings_.autoConnect && !(noAutoConnect && std::string(noAutoConnect) == "1");
    request.midi = settings_.midi;
    request.transport = settings_.transport;
    request.leadTransport = settings_.leadTransport;
    return request;
}

/// Plays source_ on the chosen device: true when it opened, otherwise status says why not.
bool AudioOutput::openDevice(std::string& status) {
    struct Outcome {
        bool opened = false;
        std::string error;
    };
    Backend* backend = &devices();
    auto link = std::make_unique<StreamLink>(*source_, settings_.blockFrames, kSampleRate);
    auto outcome = std::make_shared<Outcome>();
    const bool answered = runBounded(
        [backend, request = request(), context = link.get(), outcome] {
            outcome->opened = backend->start(request, &StreamLink::pull, context, outcome->error);
        },
        timeout_);
    if (answered && outcome->opened) {
        link_ = std::move(link);
        running_ = backend;
        watch_ = SilenceWatch{};
        playingDevice_ = backend->openDeviceName();
        status = "audio: playing on " + playingDevice_;
        return true;
    }
    link->detach();
    if (answered) {
        status = openFailure(*backend, outcome->error);
        return false;
    }
    // The open may yet succeed on its abandoned helper thread, and pull then from this link.
    devicesWedged_ = true;
    abandon(link.release());
    status = "audio: the sound device did not open in time" + kPlayingSilently;
    return false;
}

std::string AudioOutput::openFailure(Backend& backend, const std::string& error) {
    if (backend.deviceCount() == 0)
        return "audio: no sound device found" + kPlayingSilently;
    const char* name = backend.deviceName(settings_.deviceIndex);
    return std::string("audio: could not open ") + (name ? name : "a sound device") + " (" + error + ")" +
           kPlayingSilently;
}

/// Plays source_ on the silent output, saying why.
void AudioOutput::playSilently(const std::string& reason) {
    if (!silent_)
        silent_ = makeNullBackend();
    link_ = std::make_unique<StreamLink>(*source_, settings_.blockFrames, kSampleRate);
    std::string neverFails;
    silent_->start(request(), &StreamLink::pull, link_.get(), neverFails);
    running_ = silent_.get();
    playingDevice_.clear();
    report(reason);
}

/// Stops what plays; the source stays chosen.
void AudioOutput::close() {
    if (!link_)
        return;
    link_->detach();
    Backend* backend = running_;
    if (runBounded([backend] { backend->stop(); }, timeout_)) {
        link_.reset();
    } else {
        // The device is lost and its stop hangs: leave it behind, play without it from now on.
        abandon(link_.release());
        if (backend == devices_.get())
            devicesWedged_ = true;
        if (backend == silent_.get())
            abandon(silent_.release());
        report("audio: the sound device stopped answering" + kPlayingSilently);
    }
    running_ = nullptr;
    playingDevice_.clear();
}

/// A device that has stopped calling (unplugged, its server gone) is given up for the silent output,
/// so that the clocks keep running.
void AudioOutput::replaceLostDevice() {
    close();
    playSilently("audio: the sound device stopped playing" + kPlayingSilently);
}

/// How long a device may stay silent before it counts as lost: four times what it buffers, and at
/// least as long as a device call may take.
SilenceWatch::Clock::duration AudioOutput::lostAfter() const {
    const double buffered =
        settings_.blockFrames / static_cast<double>(kSampleRate) + settings_.latencyMilliseconds / 1000.0;
    const auto fourTimes = std::chrono::duration_cast<SilenceWatch::Clock::duration>(
        std::chrono::duration<double>(4.0 * buffered));
    return std::max<SilenceWatch::Clock::duration>(timeout_, fourTimes);
}

void AudioOutput::releaseDevices() {
    if (!devices_)
        return;
    Backend* old = devices_.release();
    if (devicesWedged_) {
        abandon(old);
        return;
    }
    // Closing PortAudio talks to the sound server once more; do not let that hang an exit.
    if (!runBounded([old] { delete old; }, timeout_))
        abandon(old);
}

void AudioOutput::report(const std::string& line) {
    if (line == lastReport_)
        return;
    lastReport_ = line;
    std::fprintf(stderr, "%s\n", line.c_str());
}

} // namespace audio
