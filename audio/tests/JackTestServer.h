// A private JACK server for tests (jackd's dummy driver, no real-time, under its own name) and a test
// client that records what reaches its two input ports. Header-only: each test program has one of each.
#pragma once

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/transport.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace jacktest {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

/// True when some jackd process runs on this machine.
inline bool anyJackServerRunning() {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        if (comm && std::getline(comm, name) && name == "jackd")
            return true;
    }
    return false;
}

/// A test client of a private server: opened at construction, closed at destruction, counting the
/// cycles the server misses (a client late, on a loaded machine without real-time). A derived client
/// registers its ports, then activates with its process callback.
class Client {
  public:
    Client(const std::string& name, const std::string& serverName) {
        jack_status_t status{};
        client_ =
            jack_client_open(name.c_str(), static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                             &status, serverName.c_str());
        if (client_)
            jack_set_xrun_callback(
                client_,
                [](void* arg) {
                    static_cast<Client*>(arg)->xruns_++;
                    return 0;
                },
                this);
    }
    ~Client() { close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    jack_client_t* client() const { return client_; }
    /// Cycles the server has missed since the client opened: each may break what it measures.
    int xruns() const { return xruns_.load(); }
    /// Leaves the server; safe to repeat.
    void close() {
        if (client_)
            jack_client_close(client_);
        client_ = nullptr;
    }
    /// Connects port `from` to port `to` once both take connections: a client's ports exist a little
    /// before it runs (bounded wait).
    bool connect(const std::string& from, const std::string& to, std::chrono::milliseconds limit = 10s) {
        return waitFor(
            [&] {
                const int result = jack_connect(client_, from.c_str(), to.c_str());
                return result == 0 || result == EEXIST;
            },
            limit);
    }

  protected:
    void activate(JackProcessCallback process, void* arg) {
        jack_set_process_callback(client_, process, arg);
        jack_activate(client_);
    }

  private:
    jack_client_t* client_ = nullptr;
    std::atomic<int> xruns_{0};
};

/// A jackd with the dummy driver under its own server name, so that no other JACK user is touched.
class DummyJackServer {
  public:
    explicit DummyJackServer(std::string name, int rate = 44100) : name_(std::move(name)), rate_(rate) {}
    const std::string& name() const { return name_; }
    ~DummyJackServer() { stop(); }

    /// Starts jackd and waits until a client can connect; false when jackd is missing or never answers.
    bool start() {
        // JACK keeps eight server names in a shared registry, and a server that was killed (by an
        // interrupted run of this test, say) leaves its name there for good: with no jackd running at
        // all, the registry holds only such leftovers, and jackd makes a new one.
        // Only before this process first meets a server: libjack keeps the registry it attached to.
        // Test programs running side by side take turns, so that none removes the registry while
        // another's server is starting (the lock is not inherited by jackd: close-on-exec).
        const int lock = ::open("/tmp/vz-jack-tests.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0666);
        if (lock >= 0)
            ::flock(lock, LOCK_EX);
        struct Unlock {
            int fd;
            ~Unlock() {
                if (fd >= 0)
                    ::close(fd);
            }
        } unlock{lock};
        static bool registryChecked = false;
        if (!registryChecked && !anyJackServerRunning())
            std::filesystem::remove("/dev/shm/jack-shm-registry");
        registryChecked = true;
        const std::string rate = std::to_string(rate_);
        pid_ = fork();
        if (pid_ == 0) {
            const int devnull = ::open("/dev/null", O_WRONLY);
            if (devnull >= 0) {
                dup2(devnull, STDOUT_FILENO);
                dup2(devnull, STDERR_FILENO);
            }
            execlp("jackd", "jackd", "-r", "-n", name_.c_str(), "-d", "dummy", "-r", rate.c_str(), "-p",
                   "256", static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid_ < 0)
            return false;
        return waitFor(
                   [this] {
                       int status = 0;
                       if (waitpid(pid_, &status, WNOHANG) == pid_) {
                           pid_ = -1; // jackd ended (missing, or refused to start)
                           return true;
                       }
                       return Client("vz-probe", name_).client() != nullptr;
                   },
                   10s) &&
               pid_ > 0;
    }

    /// The server goes away under its clients, as an unplugged device would. Stopped rather than killed,
    /// so that it takes its name out of JACK's registry; killed only if it does not end within 3 s.
    void stop() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        if (!waitFor([this] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, 3s)) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

  private:
    std::string name_;
    int rate_;
    pid_t pid_ = -1;
};

/// A JACK client with the inputs "in_left" and "in_right" that keeps, in order, the first `capacity`
/// frames they receive from the third period after both are connected.
class Recorder : public Client {
  public:
    Recorder(const std::string& serverName, std::size_t capacity)
        : Client("vz-recorder", serverName), left_(capacity), right_(capacity) {
        if (!client())
            return;
        in_[0] = jack_port_register(client(), "in_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        in_[1] = jack_port_register(client(), "in_right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        activate(&Recorder::process, this);
    }
    ~Recorder() { close(); } // before the buffers its callback fills go

    bool ok() const { return client() && in_[0] && in_[1]; }

    /// Connects `client`'s out_left and out_right to the inputs once they exist (bounded wait).
    bool connectFrom(const std::string& client, std::chrono::milliseconds limit = 10s) {
        return connect(client + ":out_left", jack_port_name(in_[0]), limit) &&
               connect(client + ":out_right", jack_port_name(in_[1]), limit);
    }

    /// Frames recorded so far (stops growing at capacity).
    std::size_t frames() const { return recorded_.load(std::memory_order_acquire); }
    const std::vector<float>& left() const { return left_; }
    const std::vector<float>& right() const { return right_; }

  private:
    static constexpr int kSettlingPeriods = 2;

    static int process(jack_nframes_t count, void* arg) {
        auto* self = static_cast<Recorder*>(arg);
        if (!jack_port_connected(self->in_[0]) || !jack_port_connected(self->in_[1]))
            return 0; // nothing to hear yet
        // The cycle in which a connection is made may still run the clients in the old order.
        if (self->periods_++ < kSettlingPeriods)
            return 0;
        const auto* l = static_cast<const float*>(jack_port_get_buffer(self->in_[0], count));
        const auto* r = static_cast<const float*>(jack_port_get_buffer(self->in_[1], count));
        std::size_t at = self->recorded_.load(std::memory_order_relaxed);
        for (jack_nframes_t i = 0; i < count && at < self->left_.size(); ++i, ++at) {
            self->left_[at] = l[i];
            self->right_[at] = r[i];
        }
        self->recorded_.store(at, std::memory_order_release);
        return 0;
    }

    jack_port_t* in_[2] = {nullptr, nullptr};
    std::vector<float> left_, right_;
    std::atomic<std::size_t> recorded_{0};
    std::atomic<int> periods_{0};
};

/// A JACK MIDI client with "midi_in" and "midi_out": keeps what reaches its input, stamped with the
/// server's frame time, and plays a script of messages on exact server frames.
class MidiPeer : public Client {
  public:
    struct Message {
        std::int64_t frame = 0; ///< the server's frame time (jack_last_frame_time + offset)
        std::vector<std::uint8_t> bytes;
    };

    MidiPeer(const std::string& serverName, const std::string& name = "vz-midi-peer")
        : Client(name, serverName), name_(name) {
        if (!client())
            return;
        in_ = jack_port_register(client(), "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        out_ = jack_port_register(client(), "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        received_.reserve(1 << 16);
        activate(&MidiPeer::process, this);
    }
    ~MidiPeer() { close(); } // before what its callback keeps goes

    bool ok() const { return client() && in_ && out_; }

    /// Connects `from` (a port name) to our midi_in, or our midi_out to `to`, once the port takes it.
    bool listenTo(const std::string& from) { return connect(from, name_ + ":midi_in"); }
    bool playTo(const std::string& to) { return connect(name_ + ":midi_out", to); }

    /// Plays `script` (frames counted from `lead` frames after now, in order), replacing any script.
    void play(std::vector<Message> script, std::int64_t lead = 4096) {
        std::lock_guard lock(mutex_);
        script_ = std::move(script);
        next_ = 0;
        const std::int64_t base = static_cast<std::int64_t>(jack_frame_time(client())) + lead;
        for (Message& message : script_)
            message.frame += base;
    }
    /// True once every message of the script has gone out.
    bool played() {
        std::lock_guard lock(mutex_);
        return next_ == script_.size();
    }
    /// The script's messages as sent, on server frames.
    std::vector<Message> script() {
        std::lock_guard lock(mutex_);
        return script_;
    }
    std::vector<Message> received() {
        std::lock_guard lock(mutex_);
        return received_;
    }

  private:
    // A test client: its lock is never held long, and a late period only delays the test.
    static int process(jack_nframes_t count, void* arg) {
        auto* self = static_cast<MidiPeer*>(arg);
        const auto now = static_cast<std::int64_t>(jack_last_frame_time(self->client()));
        void* in = jack_port_get_buffer(self->in_, count);
        void* out = jack_port_get_buffer(self->out_, count);
        jack_midi_clear_buffer(out);
        std::lock_guard lock(self->mutex_);
        const jack_nframes_t events = jack_midi_get_event_count(in);
        for (jack_nframes_t i = 0; i < events; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, in, i) == 0)
                self->received_.push_back({now + event.time, {event.buffer, event.buffer + event.size}});
        }
        while (self->next_ < self->script_.size() && self->script_[self->next_].frame < now + count) {
            Message& message = self->script_[self->next_++];
            // A message whose frame has passed (the script began late) goes out at once, and says so.
            message.frame = std::max(message.frame, now);
            jack_midi_event_write(out, static_cast<jack_nframes_t>(message.frame - now), message.bytes.data(),
                                  message.bytes.size());
        }
        return 0;
    }

    std::string name_;
    jack_port_t* in_ = nullptr;
    jack_port_t* out_ = nullptr;
    std::mutex mutex_;
    std::vector<Message> received_;
    std::vector<Message> script_;
    std::size_t next_ = 0;
};

/// A JACK client that drives the transport and keeps what it does each period, on the server's frames;
/// with a tempo, also its timebase master: 4/4, bar, beat and whole ticks from the frame at that tempo,
/// as most masters give them.
class TransportClient : public Client {
  public:
    struct Period {
        std::int64_t frame = 0; ///< the server's frame time of the period's first frame
        bool rolling = false;
        std::uint32_t position = 0; ///< the transport's frame
        bool bbt = false;
        double sixteenth = 0.0; ///< the bars' position in sixteenths (with the tick's fraction when given)
        double bpm = 0.0;
    };

    explicit TransportClient(const std::string& serverName, double masterBpm = 0.0,
                             const std::string& name = "vz-transport")
        : Client(name, serverName), bpm_(masterBpm) {
        if (!client())
            return;
        periods_.reserve(1 << 16);
        if (masterBpm > 0.0)
            jack_set_timebase_callback(client(), 0, &TransportClient::timebase, this);
        activate(&TransportClient::process, this);
    }
    ~TransportClient() { close(); } // before what its callback keeps goes

    bool ok() const { return client() != nullptr; }
    void start() { jack_transport_start(client()); }
    void stop() { jack_transport_stop(client()); }
    void locate(std::uint32_t frame) { jack_transport_locate(client(), frame); }
    std::vector<Period> periods() {
        std::lock_guard lock(mutex_);
        return periods_;
    }

  private:
    static int process(jack_nframes_t, void* arg) {
        auto* self = static_cast<TransportClient*>(arg);
        jack_position_t pos;
        const jack_transport_state_t state = jack_transport_query(self->client(), &pos);
        Period period;
        period.frame = static_cast<std::int64_t>(jack_last_frame_time(self->client()));
        period.rolling = state == JackTransportRolling;
        period.position = pos.frame;
        period.bbt = (pos.valid & JackPositionBBT) != 0;
        if (period.bbt) {
            const double tick = (pos.valid & JackTickDouble) != 0 ? pos.tick_double : pos.tick;
            const double beats =
                (pos.bar - 1) * pos.beats_per_bar + (pos.beat - 1) + tick / pos.ticks_per_beat;
            period.sixteenth = beats * 16.0 / pos.beat_type;
            period.bpm = pos.beats_per_minute;
        }
        std::lock_guard lock(self->mutex_);
        self->periods_.push_back(period);
        return 0;
    }

    static void timebase(jack_transport_state_t, jack_nframes_t, jack_position_t* pos, int, void* arg) {
        auto* self = static_cast<TransportClient*>(arg);
        constexpr double kTicksPerBeat = 1920.0;
        const double beats = pos->frame * self->bpm_ / (60.0 * pos->frame_rate);
        const auto wholeBeats = static_cast<std::int64_t>(std::floor(beats));
        pos->valid = JackPositionBBT;
        pos->beats_per_bar = 4.0f;
        pos->beat_type = 4.0f;
        pos->ticks_per_beat = kTicksPerBeat;
        pos->beats_per_minute = self->bpm_;
        pos->bar = static_cast<std::int32_t>(wholeBeats / 4 + 1);
        pos->beat = static_cast<std::int32_t>(wholeBeats % 4 + 1);
        pos->tick = static_cast<std::int32_t>((beats - static_cast<double>(wholeBeats)) * kTicksPerBeat);
        pos->bar_start_tick = (pos->bar - 1) * 4 * kTicksPerBeat;
    }

    double bpm_;
    std::mutex mutex_;
    std::vector<Period> periods_;
};

} // namespace jacktest
