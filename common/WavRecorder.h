// Records 16-bit (or 8-bit) PCM frames to a WAV file. writeFrame() on one producer thread only (the
// audio thread; real-time safe); open(), finish(), close() and the status queries on one control thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace common {

class WavRecorder {
  public:
    static constexpr int kOk = 0;
    static constexpr int kFileFailed =
        3; ///< a file operation failed, frames were lost, or the size limit was hit
    static constexpr int kBadArgument = 4; ///< a bad argument, or an operation that does not fit the mode

    /// Frames the ring between the audio thread and the writer thread holds: about 3 s at 44100 Hz.
    static constexpr std::size_t kDefaultRingFrames = 1u << 17;
    /// The largest data chunk the 32-bit RIFF size (36 + data bytes) can describe.
    static constexpr std::uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36;
    static constexpr int kHeaderBytes = 44;

    /// Allocates the ring (rounded up to a power of two). dataByteLimit caps the data chunk; it is
    /// below kMaxDataBytes only in tests of the size limit.
    explicit WavRecorder(std::size_t ringFrames = kDefaultRingFrames,
                         std::uint64_t dataByteLimit = kMaxDataBytes);
    /// Finishes a running recording, so that quitting leaves a complete file.
    ~WavRecorder();
    WavRecorder(const WavRecorder&) = delete;
    WavRecorder& operator=(const WavRecorder&) = delete;

    /// Starts a new file, replacing any file of that name; a running recording is finished first.
    /// sampleRate > 0, bitsPerSample 8 or 16, channels 1 or 2. Returns 0, 3 (cannot create or write
    /// the file; see lastError()) or 4 (bad argument).
    int open(const char* path, int sampleRate, int bitsPerSample, int channels);

    /// Hands one frame to the writer thread; the low 16 bits of each argument are the sample (a mono
    /// recording takes `left` only). Never allocates, never does I/O, never waits unless blocking when
    /// full. Returns 0 when queued, 3 when the frame could not be queued (ring full: counted in
    /// framesDropped(); or the recording stopped on a failure or at the size limit), 4 when idle.
    int writeFrame(int left, int right);

    /// Hands `frames` interleaved stereo frames to the writer thread at once: the render's way, one
    /// call per block. The same rules as writeFrame(); when the ring has room for only some of them,
    /// those are queued and the rest counted as dropped (3).
    int writeFrames(const std::int16_t* interleavedStereo, int frames);

    /// Waits until every frame handed over is in the file, writes the sizes and closes it. Returns 0
    /// for a complete file, 3 when a write failed, frames were dropped or the size limit cut the
    /// recording short (lastError() says which; the file is still a valid WAV of what it holds),
    /// 4 when no recording runs.
    int finish();

    /// The same as finish(): the file is always left complete and correct.
    int close();

    /// Offline rendering: writeFrame() waits for room instead of dropping the frame.
    void setBlockingWhenFull(bool blocking);

    bool isRecording() const;
    /// The current recording stopped taking frames (a write failed, or the file reached the largest
    /// WAV size): a render that feeds it may as well stop. finish() says why.
    bool hasStopped() const { return stopped_.load(std::memory_order_relaxed); }
    /// Frames in the file of the current (or last) recording.
    std::uint64_t framesWritten() const;
    /// Frames lost because the ring was full, in the current (or last) recording.
    std::uint64_t framesDropped() const;
    /// The current (or last) recording stopped because the file reached the largest WAV size.
    bool stoppedAtSizeLimit() const;
    /// Why the last operation failed, for the window to show; empty after a success.
    std::string lastError() const;

  private:
    struct Session;
    void writerLoop();
    /// Writer thread: the header's sizes to what the file holds; notices a failed write or a deleted file.
    void rewriteSizes(Session& session);
    int stopSession();
    void setError(const std::string& reason);

    std::size_t ringMask_;
    std::unique_ptr<std::uint32_t[]> ring_; // one packed frame per entry: left low, right high
    // Producer and consumer indices count frames ever pushed and popped; acquire/release order the
    // ring's contents against them.
    alignas(64) std::atomic<std::uint64_t> head_{0};
    alignas(64) std::atomic<std::uint64_t> tail_{0};
    alignas(64) std::atomic<int> writersInside_{0};
    std::atomic<bool> accepting_{false};
    std::atomic<bool> stopped_{false};
    std::atomic<bool> blockingWhenFull_{false};
    std::atomic<bool> stopWriter_{false};
    std::atomic<bool> limitReached_{false};
    std::atomic<std::uint64_t> framesWritten_{0};
    std::atomic<std::uint64_t> framesDropped_{0};
    std::uint64_t dataByteLimit_;

    std::unique_ptr<Session> session_; // the open file; owned by the control thread, used by the writer
    std::thread writer_;
    mutable std::mutex errorMutex_; // never taken by writeFrame()
    std::string lastError_;
};

} // namespace common
