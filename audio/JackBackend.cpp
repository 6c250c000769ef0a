// The native JACK backend: one client per program with a stereo output, fed in JACK's process callback,
// and the device list that puts it after PortAudio's devices when a JACK server answers.
#include "audio/AudioBackend.h"
#include "audio/Bounded.h"
#include "audio/JackTransport.h"
#include "audio/TransportLead.h"

#include "common/MidiBus.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/transport.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

namespace audio {
namespace {

// A server that neither answers nor refuses within this long is taken for none.
constexpr std::chrono::milliseconds kProbeTimeout{1500};
// Frames pulled at a time; a longer JACK period is filled by several pulls.
constexpr int kMinScratchFrames = 1024;

/// Opens a client on the running server, never starting one.
jack_client_t* openClient(const std::string& name, jack_status_t& status) {
    return jack_client_open(name.c_str(), JackNoStartServer, &status);
}

/// Whether a JACK server answers now.
bool serverAnswers(const std::string& clientName) {
    auto answered = std::make_shared<std::atomic<bool>>(false);
    const bool finished = runBounded(
        [answered, name = clientName + "-probe"] {
            jack_status_t status{};
            if (jack_client_t* client = openClient(name, status)) {
                jack_client_close(client);
                answered->store(true);
            }
        },
        kProbeTimeout);
    return finished && answered->load();
}

class JackBackend final : public Backend {
  public:
    explicit JackBackend(std::string clientName) : clientName_(std::move(clientName)) {
        jack_set_error_function(&silentJackMessage);
        jack_set_info_function(&silentJackMessage);
        available_ = serverAnswers(clientName_);
    }
    ~JackBackend() override { stop(); }

    int deviceCount() override { return available_ ? 1 : 0; }
    const char* deviceName(int index) override {
        return index == 0 && available_ ? kJackDeviceName : nullptr;
    }
    std::string openDeviceName() override { return client_ ? kJackDeviceName : ""; }
    bool lost() override { return client_ && shutDown_.load(); }

    bool start(const DeviceRequest& request, PullFunction pull, void* context, std::string& error) override {
        stop();
        if (request.deviceIndex != 0) {
            error = "no such device";
            return false;
        }
        jack_status_t status{};
        client_ = openClient(clientName_, status);
        if (!client_) {
            error = "no JACK server is running";
            return false;
        }
        const auto rate = static_cast<int>(jack_get_sample_rate(client_));
        if (rate != request.sampleRate) {
            error = "the JACK server runs at " + std::to_string(rate) + " Hz, but the sound is made at " +
                    std::to_string(request.sampleRate) + " Hz and is not resampled: restart the server at " +
                    std::to_string(request.sampleRate) + " Hz";
            closeClient();
            return false;
        }
        left_ = jack_port_register(client_, "out_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        right_ = jack_port_register(client_, "out_right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        midiOut_ = jack_port_register(client_, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        midiIn_ = jack_port_register(client_, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (!left_ || !right_ || !midiOut_ || !midiIn_) {
            error = "could not make the JACK ports";
            closeClient();
            return false;
        }
        const int period = static_cast<int>(jack_get_buffer_size(client_));
        scratchFrames_ = std::max(period, kMinScratchFrames);
        scratch_.assign(static_cast<size_t>(scratchFrames_) * 2, 0);
        pull_ = pull;
        context_ = context;
        midi_ = request.midi;
        streamFrame_ = 0;
        if (midi_) {
            // No render runs yet: the render's next frame is this client's first.
            midi_->restart();
            streamFrame_ = midi_->renderFrame();
        }
        transport_ = midi_ ? request.transport : nullptr;
        if (transport_)
            transport_->restart();
        shutDown_ = false;
        jack_set_process_callback(client_, &JackBackend::process, this);
        jack_on_shutdown(client_, &JackBackend::serverGone, this);
        if (jack_activate(client_) != 0) {
            error = "the JACK server refused to run the client";
            closeClient();
            return false;
        }
        if (request.autoConnect)
            connectToPlayback();
        if (request.leadTransport)
            leadTransport(true);
        return true;
    }

    void stop() override {
        if (!client_)
            return;
        if (!shutDown_) {
            leadTransport(false);
            jack_deactivate(client_);
        }
        closeClient();
    }

    void leadTransport(bool lead) override {
        if (!client_ || shutDown_ || !transport_ || lead == leading_)
            return;
        if (lead) {
            // Unconditionally: the musician asked for it, whoever led before.
            leading_ = jack_set_timebase_callback(client_, 0, &JackBackend::timebase, this) == 0;
        } else {
            jack_release_timebase(client_);
            leading_ = false;
        }
    }

    void rollTransport(bool roll, bool fromStart) override {
        if (!client_ || shutDown_)
            return;
        if (!roll) {
            jack_transport_stop(client_);
            return;
        }
        if (fromStart)
            jack_transport_locate(client_, 0);
        jack_transport_start(client_);
    }

  private:
    static constexpr const char* kJackDeviceName = "jack";

    /// Left and right to the first two physical playback ports (both to the one, on a mono system).
    void connectToPlayback() {
        const char** ports =
            jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
        if (!ports)
            return;
        if (ports[0]) {
            jack_connect(client_, jack_port_name(left_), ports[0]);
            jack_connect(client_, jack_port_name(right_), ports[1] ? ports[1] : ports[0]);
        }
        jack_free(ports);
    }

    void closeClient() {
        jack_client_close(client_);
        client_ = nullptr;
        left_ = right_ = midiOut_ = midiIn_ = nullptr;
        midi_ = nullptr;
        transport_ = nullptr;
        leading_ = false;
    }

    /// JACK's real-time thread: what came in on midi_in handed to the bus, the source's 16-bit frames
    /// pulled in scratch-sized slices as floats, then the MIDI the source placed in this period out on its
    /// frames. The source renders ahead by up to its block: later messages wait for their period.
    static int process(jack_nframes_t frameCount, void* arg) {
        auto* self = static_cast<JackBackend*>(arg);
        self->queryTransport();
        self->receiveMidi(frameCount);
        auto* left = static_cast<float*>(jack_port_get_buffer(self->left_, frameCount));
        auto* right = static_cast<float*>(jack_port_get_buffer(self->right_, frameCount));
        std::int16_t* scratch = self->scratch_.data();
        auto frames = static_cast<int>(frameCount);
        while (frames > 0) {
            const int chunk = std::min(frames, self->scratchFrames_);
            self->pull_(scratch, chunk, self->context_);
            for (int i = 0; i < chunk; ++i) {
                *left++ = static_cast<float>(scratch[2 * i]) * (1.0f / 32768.0f);
                *right++ = static_cast<float>(scratch[2 * i + 1]) * (1.0f / 32768.0f);
            }
            frames -= chunk;
        }
        self->sendMidi(frameCount);
        self->streamFrame_ += frameCount;
        return 0;
    }

    /// What the transport does in this period, for the master the render may follow (before the render).
    void queryTransport() {
        if (!transport_)
            return;
        jack_position_t position;
        const jack_transport_state_t state = jack_transport_query(client_, &position);
        TransportPeriod period;
        period.streamFrame = streamFrame_;
        period.rolling = state == JackTransportRolling;
        period.position = position.frame;
        period.frameRate = position.frame_rate;
        period.hasBbt = (position.valid & JackPositionBBT) != 0;
        if (period.hasBbt) {
            period.exactTick = (position.valid & JackTickDouble) != 0;
            period.bbtOffset =
                (position.valid & JackBBTFrameOffset) != 0 ? static_cast<int>(position.bbt_offset) : 0;
            Bbt& bbt = period.bbt;
            bbt.bar = position.bar;
            bbt.beat = position.beat;
            bbt.tick = period.exactTick ? position.tick_double : position.tick;
            bbt.ticksPerBeat = position.ticks_per_beat;
            bbt.beatsPerBar = position.beats_per_bar;
            bbt.beatType = position.beat_type;
            bbt.beatsPerMinute = position.beats_per_minute;
        }
        transport_->heard(period);
    }

    /// JACK's real-time thread, after process() while this client leads: bar, beat and tick of the
    /// position's frame from the program's own tempo.
    static void timebase(jack_transport_state_t /*state*/, jack_nframes_t /*frameCount*/,
                         jack_position_t* position, int newPosition, void* arg) {
        auto* self = static_cast<JackBackend*>(arg);
        if (!self->transport_)
            return;
        const double rate = position->frame_rate > 0 ? position->frame_rate : 44100.0;
        const Bbt bbt = self->lead_.position(position->frame, newPosition != 0,
                                             self->transport_->ownFramesPerSixteenth(), rate);
        position->valid =
            static_cast<jack_position_bits_t>(position->valid | JackPositionBBT | JackTickDouble);
        position->bar = bbt.bar;
        position->beat = bbt.beat;
        position->tick = static_cast<int32_t>(std::floor(bbt.tick));
        position->tick_double = bbt.tick;
        position->bar_start_tick = (bbt.bar - 1) * bbt.beatsPerBar * bbt.ticksPerBeat;
        position->beats_per_bar = static_cast<float>(bbt.beatsPerBar);
        position->beat_type = static_cast<float>(bbt.beatType);
        position->ticks_per_beat = bbt.ticksPerBeat;
        position->beats_per_minute = bbt.beatsPerMinute;
    }

    void receiveMidi(jack_nframes_t frameCount) {
        void* in = jack_port_get_buffer(midiIn_, frameCount);
        if (!midi_)
            return;
        const jack_nframes_t count = jack_midi_get_event_count(in);
        for (jack_nframes_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, in, i) == 0)
                midi_->arrived(streamFrame_ + event.time, event.buffer, static_cast<int>(event.size));
        }
    }

    void sendMidi(jack_nframes_t frameCount) {
        void* out = jack_port_get_buffer(midiOut_, frameCount);
        jack_midi_clear_buffer(out);
        if (!midi_)
            return;
        common::MidiMessage message;
        while (midi_->takeBefore(streamFrame_ + frameCount, message)) {
            const auto offset =
                static_cast<jack_nframes_t>(std::max<std::int64_t>(message.frame - streamFrame_, 0));
            // A full port buffer loses the message; JACK counts it as lost, and the next period goes on.
            jack_midi_event_write(out, offset, message.bytes.data(), message.size);
        }
    }

    /// The server went away (JACK's own thread): the output notices on its next poll.
    static void serverGone(void* arg) { static_cast<JackBackend*>(arg)->shutDown_.store(true); }

    std::string clientName_;
    bool available_ = false;
    jack_client_t* client_ = nullptr;
    jack_port_t* left_ = nullptr;
    jack_port_t* right_ = nullptr;
    jack_port_t* midiOut_ = nullptr;
    jack_port_t* midiIn_ = nullptr;
    common::MidiBus* midi_ = nullptr;
    JackTransport* transport_ = nullptr;
    bool leading_ = false;         // window thread: the timebase callback is set
    TransportLead lead_;           // JACK's thread, in the timebase callback
    std::int64_t streamFrame_ = 0; // frames of this client's stream played before this period
    std::atomic<bool> shutDown_{false};
    PullFunction pull_ = nullptr;
    void* context_ = nullptr;
    std::vector<std::int16_t> scratch_;
    int scratchFrames_ = 0;
};

/// PortAudio's devices, then JACK's when a server answers.
class SystemBackend final : public Backend {
  public:
    explicit SystemBackend(const std::string& jackClientName)
        : portAudio_(makePortAudioBackend()), jack_(makeJackBackend(jackClientName)) {}

    int deviceCount() override { return portAudio_->deviceCount() + jack_->deviceCount(); }
    const char* deviceName(int index) override {
        Backend* backend = route(index);
        return backend ? backend->deviceName(index) : nullptr;
    }
    std::string openDeviceName() override { return open_ ? open_->openDeviceName() : ""; }
    bool lost() override { return open_ && open_->lost(); }
    void leadTransport(bool lead) override {
        if (open_)
            open_->leadTransport(lead);
    }
    void rollTransport(bool roll, bool fromStart) override {
        if (open_)
            open_->rollTransport(roll, fromStart);
    }

    bool start(const DeviceRequest& request, PullFunction pull, void* context, std::string& error) override {
        stop();
        DeviceRequest routed = request;
        Backend* backend = route(routed.deviceIndex);
        if (!backend) {
            error = "no such device";
            return false;
        }
        if (!backend->start(routed, pull, context, error))
            return false;
        open_ = backend;
        return true;
    }

    void stop() override {
        if (open_)
            open_->stop();
        open_ = nullptr;
    }

  private:
    /// The backend that holds device `index`, with index made that backend's own; null when none does.
    Backend* route(int& index) {
        const int portAudioDevices = portAudio_->deviceCount();
        if (index >= 0 && index < portAudioDevices)
            return portAudio_.get();
        index -= portAudioDevices;
        return index >= 0 && index < jack_->deviceCount() ? jack_.get() : nullptr;
    }

    std::unique_ptr<Backend> portAudio_;
    std::unique_ptr<Backend> jack_;
    Backend* open_ = nullptr;
};

} // namespace

std::unique_ptr<Backend> makeJackBackend(const std::string& clientName) {
    return std::make_unique<JackBackend>(clientName);
}

std::unique_ptr<Backend> makeSystemBackend(const std::string& jackClientName) {
    return std::make_unique<SystemBackend>(jackClientName);
}

} // namespace audio
