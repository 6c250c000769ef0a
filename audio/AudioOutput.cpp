// The audio output service: streams, the one open output, and the hand-over between them.
#include "audio/AudioOutput.h"

#include "audio/AudioBackend.h"
#include "audio/Bounded.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

/// One callback-driven stream; the block adapter's state is the audio thread's while it plays.
struct FSOUND_STREAM {
    FSOUND_STREAMCALLBACK callback = nullptr;
    void* userData = nullptr;
    int lengthBytes = 0;
    int blockFrames = 0; // lengthBytes / 4; the trailing bytes of a ragged length are never played
    std::unique_ptr<unsigned char[]> buffer;
    int readFrame = 0; // next frame of the buffer to play; blockFrames when it is used up
};

namespace audio {
namespace {

constexpr int kDefaultBufferMilliseconds = 50;
constexpr int kMaxBufferMilliseconds = 2000;
constexpr int kMaxStreamBytes = 1 << 22;
constexpr int kMinMixRate = 8000;
constexpr int kMaxMixRate = 192000;
constexpr int kNoSoundOutputType = 0;
// The load display follows about half a second of audio.
constexpr double kLoadSmoothingSeconds = 0.5;
constexpr std::chrono::milliseconds kDefaultDeviceTimeout{2000};

/// The link between one opening of an output and the stream it plays. A backend's pull may touch
/// it until the backend has stopped, so an abandoned backend's connection is never freed.
struct Connection {
    std::atomic<FSOUND_STREAM*> stream{nullptr};
    std::atomic<bool> busy{false};
    std::atomic<float> loadPercent{0.0f};
    std::atomic<std::uint32_t> pulls{0}; // lets the window thread see that the device still calls
    float smoothedLoad = 0.0f; // audio thread only
    double sampleRate = 44100.0;
};

void refillBlock(FSOUND_STREAM& stream, Connection& connection) {
    // A callback that leaves frames unwritten plays silence there, not the previous block again.
    std::memset(stream.buffer.get(), 0, static_cast<size_t>(stream.lengthBytes));
    const auto begin = Clock::now();
    stream.callback(&stream, stream.buffer.get(), stream.lengthBytes, stream.userData);
    if (stream.blockFrames == 0) return;
    const double spent = std::chrono::duration<double>(Clock::now() - begin).count();
    const double blockSeconds = stream.blockFrames / connection.sampleRate;
    const double load = spent / blockSeconds;
    const double alpha = std::min(1.0, blockSeconds / kLoadSmoothingSeconds);
    connection.smoothedLoad += static_cast<float>(alpha * (load - connection.smoothedLoad));
    connection.loadPercent.store(connection.smoothedLoad * 100.0f, std::memory_order_relaxed);
}

/// Hands out the stream's blocks in whatever slices the device asks for.
void renderFrames(FSOUND_STREAM& stream, Connection& connection, std::int16_t* out, int frameCount) {
    if (stream.blockFrames == 0) {
        // A stream shorter than one frame still gets its callback, but plays nothing.
        refillBlock(stream, connection);
        std::fill(out, out + static_cast<ptrdiff_t>(frameCount) * 2, std::int16_t{0});
        return;
    }
    while (frameCount > 0) {
        if (stream.readFrame >= stream.blockFrames) {
            refillBlock(stream, connection);
            stream.readFrame = 0;
        }
        const int frames = std::min(frameCount, stream.blockFrames - stream.readFrame);
        const unsigned char* bytes = stream.buffer.get() + static_cast<ptrdiff_t>(stream.readFrame) * 4;
        // Little-endian bytes, decoded explicitly so that the host's byte order does not matter.
        for (int i = 0; i < frames * 2; ++i) {
            out[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
        }
        out += static_cast<ptrdiff_t>(frames) * 2;
        stream.readFrame += frames;
        frameCount -= frames;
    }
}

void pullFrames(std::int16_t* out, int frameCount, void* context) {
    auto* connection = static_cast<Connection*>(context);
    // Sequentially consistent with detach(): either detach sees busy, or this sees the null stream.
    connection->busy.store(true);
    connection->pulls.store(connection->pulls.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    FSOUND_STREAM* stream = connection->stream.load();
    if (stream) {
        renderFrames(*stream, *connection, out, frameCount);
    } else {
        std::fill(out, out + static_cast<ptrdiff_t>(frameCount) * 2, std::int16_t{0});
    }
    connection->busy.store(false, std::memory_order_release);
}

/// After this no callback of the connection's stream runs, whatever the backend does.
void detach(Connection& connection) {
    connection.stream.store(nullptr);
    for (int spins = 0; connection.busy.load(); ++spins) {
        if (spins < 64) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
}

/// Objects a hung device call may still use: kept reachable and never freed.
void abandon(void* object) {
    static auto* abandoned = new std::vector<void*>;
    abandoned->push_back(object);
}

class Service {
public:
    ~Service() {
        std::lock_guard lock(mutex_);
        stopOutput();
        for (FSOUND_STREAM* stream : streams_) delete stream;
        streams_.clear();
        releaseDevice();
    }

    std::mutex& mutex() { return mutex_; }

    // Everything below runs with mutex() held.

    bool setOutput(int type) {
        if (type < 0) return false;
        outputType_ = type;
        return true;
    }

    bool setBufferSize(int milliseconds) {
        if (milliseconds < 0) return false;
        bufferMilliseconds_ = std::min(milliseconds, kMaxBufferMilliseconds);
        return true;
    }

    bool setDriver(int index) {
        driverIndex_ = index;
        return index >= 0 && index < device().deviceCount();
    }

    bool init(int mixRate) {
        if (mixRate < kMinMixRate || mixRate > kMaxMixRate) return false;
        stopOutput();
        mixRate_ = mixRate;
        initialised_ = true;
        if (outputType_ != kNoSoundOutputType) device();
        return true;
    }

    void close() {
        stopOutput();
        initialised_ = false;
    }

    FSOUND_STREAM* createStream(FSOUND_STREAMCALLBACK callback, int lengthBytes, int sampleRate, void* userData) {
        if (!callback || lengthBytes <= 0 || lengthBytes > kMaxStreamBytes || sampleRate <= 0) return nullptr;
        auto* stream = new FSOUND_STREAM;
        stream->callback = callback;
        stream->userData = userData;
        stream->lengthBytes = lengthBytes;
        stream->blockFrames = lengthBytes / 4;
        stream->buffer = std::make_unique<unsigned char[]>(static_cast<size_t>(lengthBytes));
        streams_.insert(stream);
        return stream;
    }

    int play(int channel, FSOUND_STREAM* stream) {
        if (!known(stream) || !initialised_) return -1;
        const int used = channel < 0 ? 0 : channel;
        if (playing_ == stream) return used;
        startOutput(*stream);
        return used;
    }

    bool stop(FSOUND_STREAM* stream) {
        if (!known(stream)) return false;
        if (playing_ == stream) stopOutput();
        return true;
    }

    bool closeStream(FSOUND_STREAM* stream) {
        if (!known(stream)) return false;
        if (playing_ == stream) stopOutput();
        streams_.erase(stream);
        delete stream;
        return true;
    }

    float cpuUsage() {
        checkDeviceStillPlays();
        return connection_ ? connection_->loadPercent.load(std::memory_order_relaxed) : 0.0f;
    }

    int deviceCount() { return device().deviceCount(); }
    const char* deviceName(int index) { return device().deviceName(index); }
    bool usingNullOutput() const { return playing_ && running_ == nullOutput_.get(); }
    const char* currentDeviceName() const { return currentDeviceName_.c_str(); }

    void setBackend(std::unique_ptr<Backend> backend) {
        stopOutput();
        releaseDevice();
        device_ = std::move(backend);
        outputType_ = 2;
        bufferMilliseconds_ = kDefaultBufferMilliseconds;
        driverIndex_ = 0;
        mixRate_ = 44100;
        initialised_ = false;
        lastStatusLine_.clear();
    }

    void setTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }

private:
    bool known(FSOUND_STREAM* stream) const { return stream && streams_.count(stream) != 0; }

    Backend& device() {
        if (!device_) device_ = makePortAudioBackend();
        return *device_;
    }

    void releaseDevice() {
        if (!device_) return;
        if (deviceWedged_) {
            abandon(device_.release());
        } else {
            // Closing PortAudio talks to the sound server once more; do not let that hang an exit.
            Backend* old = device_.release();
            if (!runBounded([old] { delete old; }, timeout_)) abandon(old);
        }
        deviceWedged_ = false;
    }

    /// A device that has stopped calling (unplugged, its server gone) is given up for the null
    /// output, so that the clocks keep running. Judged over several polls, so that a pause of the
    /// whole process (a suspended machine) is not taken for a lost device.
    void checkDeviceStillPlays() {
        if (!connection_ || running_ != device_.get()) return;
        const std::uint32_t pulls = connection_->pulls.load(std::memory_order_relaxed);
        const auto now = Clock::now();
        if (pulls != watchedPulls_) {
            watchedPulls_ = pulls;
            silentPolls_ = 0;
            return;
        }
        if (silentPolls_++ == 0) silentSince_ = now;
        const double blockSeconds = playing_->blockFrames / static_cast<double>(mixRate_);
        const auto lostAfter = std::max<Clock::duration>(
            timeout_, std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                          4.0 * (blockSeconds + bufferMilliseconds_ / 1000.0))));
        if (silentPolls_ < 3 || now - silentSince_ < lostAfter) return;
        FSOUND_STREAM* stream = playing_;
        stopOutput();
        startOutput(*stream, "audio: the sound device stopped playing; running without a device");
    }

    /// Plays stream on the chosen device, or with a reason given on the null output.
    void startOutput(FSOUND_STREAM& stream, const char* withoutDeviceBecause = nullptr) {
        stopOutput();
        watchedPulls_ = 0;
        silentPolls_ = 0;
        DeviceRequest request;
        request.deviceIndex = driverIndex_;
        request.sampleRate = mixRate_;
        request.blockFrames = stream.blockFrames;
        request.latencySeconds = bufferMilliseconds_ / 1000.0;
        stream.readFrame = stream.blockFrames;

        std::string status;
        if (withoutDeviceBecause) {
            status = withoutDeviceBecause;
        } else if (outputType_ == kNoSoundOutputType) {
            status = "audio: sound is off; running without a device";
        } else if (deviceWedged_) {
            status = "audio: the sound device stopped answering; running without a device";
        } else if (tryDevice(request, stream, status)) {
            playing_ = &stream;
            report(status);
            return;
        }
        if (!nullOutput_) nullOutput_ = makeNullBackend();
        connection_ = newConnection(request, stream);
        std::string ignored;
        nullOutput_->start(request, &pullFrames, connection_, ignored);
        running_ = nullOutput_.get();
        playing_ = &stream;
        currentDeviceName_.clear();
        report(status);
    }

    bool tryDevice(const DeviceRequest& request, FSOUND_STREAM& stream, std::string& status) {
        struct Outcome {
            bool opened = false;
            std::string error;
        };
        Backend* backend = &device();
        Connection* connection = newConnection(request, stream);
        auto outcome = std::make_shared<Outcome>();
        const bool answered = runBounded(
            [backend, request, connection, outcome] {
                outcome->opened = backend->start(request, &pullFrames, connection, outcome->error);
            },
            timeout_);
        if (answered && outcome->opened) {
            connection_ = connection;
            running_ = backend;
            currentDeviceName_ = backend->openDeviceName();
            status = "audio: playing on " + currentDeviceName_;
            return true;
        }
        detach(*connection);
        if (!answered) {
            deviceWedged_ = true;
            abandon(connection);
            status = "audio: the sound device did not open in time; running without a device";
        } else {
            delete connection;
            if (backend->deviceCount() == 0) {
                status = "audio: no sound device found; running without a device";
                return false;
            }
            const char* name = backend->deviceName(request.deviceIndex);
            status = std::string("audio: could not open ") + (name ? name : "a sound device") + " (" +
                     outcome->error + "); running without a device";
        }
        return false;
    }

    Connection* newConnection(const DeviceRequest& request, FSOUND_STREAM& stream) {
        auto* connection = new Connection;
        connection->sampleRate = request.sampleRate;
        connection->stream.store(&stream);
        return connection;
    }

    void stopOutput() {
        if (!connection_) return;
        detach(*connection_);
        Backend* backend = running_;
        const bool answered = runBounded([backend] { backend->stop(); }, timeout_);
        if (answered) {
            delete connection_;
        } else {
            // The device is lost and its stop hangs: leave it behind, play without it from now on.
            abandon(connection_);
            if (backend == device_.get()) deviceWedged_ = true;
            if (backend == nullOutput_.get()) abandon(nullOutput_.release());
            report("audio: the sound device stopped answering; running without a device");
        }
        connection_ = nullptr;
        running_ = nullptr;
        playing_ = nullptr;
        currentDeviceName_.clear();
    }

    void report(const std::string& line) {
        if (line == lastStatusLine_) return;
        lastStatusLine_ = line;
        std::fprintf(stderr, "%s\n", line.c_str());
    }

    std::mutex mutex_;
    std::unique_ptr<Backend> device_;
    bool deviceWedged_ = false;
    std::unique_ptr<Backend> nullOutput_;
    Backend* running_ = nullptr;
    Connection* connection_ = nullptr;
    FSOUND_STREAM* playing_ = nullptr;
    std::set<FSOUND_STREAM*> streams_;
    int outputType_ = 2;
    int bufferMilliseconds_ = kDefaultBufferMilliseconds;
    int driverIndex_ = 0;
    int mixRate_ = 44100;
    bool initialised_ = false;
    std::chrono::milliseconds timeout_ = kDefaultDeviceTimeout;
    std::string currentDeviceName_;
    std::string lastStatusLine_;
    std::uint32_t watchedPulls_ = 0;
    int silentPolls_ = 0;
    Clock::time_point silentSince_;
};

// Built on first use, after the engines' static state, so it is destroyed (stopping the audio
// thread) before they are.
Service& service() {
    static Service instance;
    return instance;
}

} // namespace

void setBackendForTesting(std::unique_ptr<Backend> backend) {
    std::lock_guard lock(service().mutex());
    service().setBackend(std::move(backend));
}

void setDeviceTimeoutForTesting(std::chrono::milliseconds timeout) {
    std::lock_guard lock(service().mutex());
    service().setTimeout(timeout);
}

bool usingNullOutput() {
    std::lock_guard lock(service().mutex());
    return service().usingNullOutput();
}

const char* currentDeviceName() {
    std::lock_guard lock(service().mutex());
    return service().currentDeviceName();
}

} // namespace audio

using audio::service;

bool FSOUND_SetOutput(int outputType) {
    std::lock_guard lock(service().mutex());
    return service().setOutput(outputType);
}

bool FSOUND_SetBufferSize(int milliseconds) {
    std::lock_guard lock(service().mutex());
    return service().setBufferSize(milliseconds);
}

bool FSOUND_SetDriver(int driverIndex) {
    std::lock_guard lock(service().mutex());
    return service().setDriver(driverIndex);
}

bool FSOUND_SetHWND(void*) { return true; }

bool FSOUND_Init(int mixRate, int, unsigned) {
    std::lock_guard lock(service().mutex());
    return service().init(mixRate);
}

void FSOUND_Close() {
    std::lock_guard lock(service().mutex());
    service().close();
}

FSOUND_STREAM* FSOUND_Stream_Create(FSOUND_STREAMCALLBACK callback, int lengthBytes, unsigned, int sampleRate,
                                    void* userData) {
    std::lock_guard lock(service().mutex());
    return service().createStream(callback, lengthBytes, sampleRate, userData);
}

int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream) {
    std::lock_guard lock(service().mutex());
    return service().play(channel, stream);
}

bool FSOUND_Stream_Stop(FSOUND_STREAM* stream) {
    std::lock_guard lock(service().mutex());
    return service().stop(stream);
}

bool FSOUND_Stream_Close(FSOUND_STREAM* stream) {
    std::lock_guard lock(service().mutex());
    return service().closeStream(stream);
}

float FSOUND_GetCPUUsage() {
    std::lock_guard lock(service().mutex());
    return service().cpuUsage();
}

int FSOUND_GetNumDrivers() {
    std::lock_guard lock(service().mutex());
    return service().deviceCount();
}

const char* FSOUND_GetDriverName(int driverIndex) {
    std::lock_guard lock(service().mutex());
    return service().deviceName(driverIndex);
}
