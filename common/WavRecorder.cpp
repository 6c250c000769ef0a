// WAV recorder: a lock-free ring from the audio thread to a writer thread that owns the file.
#include "common/WavRecorder.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace common {

namespace {

using Clock = std::chrono::steady_clock;

// The writer rewrites the size fields this often, so a crash loses at most this much of the header's truth.
constexpr auto kSizeRewriteInterval = std::chrono::milliseconds(500);
/// An offline render writes hundreds of times faster than real time: the sizes also follow every MiB,
/// so that a killed process leaves a header at most this far behind its data.
constexpr std::uint64_t kSizeRewriteBytes = 1u << 20;
constexpr auto kWriterPoll = std::chrono::milliseconds(5);
constexpr std::size_t kChunkFrames = 8192;

void putLe(unsigned char* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::string describeErrno(int error) {
    if (error == ENOSPC)
        return "the disk is full";
    if (error == EDQUOT)
        return "the disk quota is exhausted";
    if (error == EFBIG)
        return "the file is too large for this disk";
    return std::strerror(error);
}

// Writes all of `count` bytes, at `offset` or (below 0) where the file stands; false with errno set
// when the system refuses part of them.
bool writeAll(int fd, const unsigned char* data, std::size_t count, off_t offset = -1) {
    while (count > 0) {
        const ssize_t n = offset < 0 ? ::write(fd, data, count) : ::pwrite(fd, data, count, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        if (offset >= 0)
            offset += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

// A file whose last name is gone (its folder was removed) still takes writes, into nothing the user
// can ever open: that is a lost recording, not a success.
bool fileWasDeleted(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 0;
}

std::size_t roundUpToPowerOfTwo(std::size_t n) {
    std::size_t p = 1;
    while (p < n)
        p <<= 1;
    return p;
}

/// Opens `path` for a new recording, replacing a file of that name. A pipe or a device is no place
/// for a file whose header is rewritten as it grows, and opening a pipe that has no reader would block
/// the caller (the window): both are refused, and the open does not wait in case one appears at the
/// path meanwhile. Returns the descriptor, or −1 with `error` set.
int openRegularFile(const char* path, std::string& error) {
    const std::string notRegular = std::string("cannot record to ") + path + ": it is not a regular file";
    struct stat existing {};
    if (::stat(path, &existing) == 0 && !S_ISREG(existing.st_mode)) {
        error = notRegular;
        return -1;
    }
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        error =
            errno == ENXIO ? notRegular : std::string("cannot create ") + path + ": " + describeErrno(errno);
        return -1;
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        error = notRegular;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

/// The ring's `frames` packed frames from `first` on as the file holds them; returns the bytes written.
std::size_t fileBytes(const std::uint32_t* ring, std::size_t ringMask, std::uint64_t first,
                      std::size_t frames, int bitsPerSample, int channels, unsigned char* out) {
    unsigned char* const start = out;
    for (std::size_t i = 0; i < frames; ++i) {
        const std::uint32_t packed = ring[(first + i) & ringMask];
        const auto left = static_cast<std::int16_t>(packed & 0xFFFFu);
        const auto right = static_cast<std::int16_t>(packed >> 16);
        if (bitsPerSample == 16) {
            putLe(out, static_cast<std::uint16_t>(left), 2);
            out += 2;
            if (channels == 2) {
                putLe(out, static_cast<std::uint16_t>(right), 2);
                out += 2;
            }
        } else {
            // 8-bit WAV is unsigned: the top byte of the sample, offset by 128.
            *out++ = static_cast<unsigned char>((left >> 8) + 128);
            if (channels == 2)
                *out++ = static_cast<unsigned char>((right >> 8) + 128);
        }
    }
    return static_cast<std::size_t>(out - start);
}

} // namespace

struct WavRecorder::Session {
    int fd = -1;
    std::string path;
    int channels = 2;
    int bitsPerSample = 16;
    int bytesPerFrame = 4;
    std::uint64_t dataBytes = 0;       // bytes of frames in the file
    std::uint64_t limitBytes = 0;      // whole frames, even, within the size fields
    std::uint64_t sizesWrittenFor = 0; // dataBytes when the size fields were last rewritten
    Clock::time_point lastSizeRewrite;
    bool failed = false;               // a write failed: nothing more goes into the file
    std::vector<unsigned char> buffer; // one chunk of converted frames, allocated at open
    std::mutex wakeMutex;
    std::condition_variable wake;
};

WavRecorder::WavRecorder(std::size_t ringFrames, std::uint64_t dataByteLimit)
    : ringMask_(roundUpToPowerOfTwo(std::max<std::size_t>(ringFrames, 2)) - 1),
      ring_(new std::uint32_t[ringMask_ + 1]()), dataByteLimit_(std::min(dataByteLimit, kMaxDataBytes)) {}

WavRecorder::~WavRecorder() {
    if (session_)
        finish();
}

void WavRecorder::setError(const std::string& reason) {
    std::lock_guard<std::mutex> lock(errorMutex_);
    lastError_ = reason;
}

std::string WavRecorder::lastError() const {
    std::lock_guard<std::mutex> lock(errorMutex_);
    return lastError_;
}

bool WavRecorder::isRecording() const {
    return session_ != nullptr;
}
std::uint64_t WavRecorder::framesWritten() const {
    return framesWritten_.load(std::memory_order_relaxed);
}
std::uint64_t WavRecorder::framesDropped() const {
    return framesDropped_.load(std::memory_order_relaxed);
}
bool WavRecorder::stoppedAtSizeLimit() const {
    return limitReached_.load(std::memory_order_relaxed);
}

void WavRecorder::setBlockingWhenFull(bool blocking) {
    blockingWhenFull_.store(blocking, std::memory_order_relaxed);
}

int WavRecorder::open(const char* path, int sampleRate, int bitsPerSample, int channels) {
    if (path == nullptr || path[0] == '\0' || sampleRate <= 0 || sampleRate > 1000000 ||
        (bitsPerSample != 8 && bitsPerSample != 16) || (channels != 1 && channels != 2)) {
        setError("bad recording settings");
        return kBadArgument;
    }
    if (session_) {
        int status = finish();
        if (status != kOk)
            return status;
    }
    setError("");
    framesWritten_.store(0, std::memory_order_relaxed);
    framesDropped_.store(0, std::memory_order_relaxed);
    limitReached_.store(false, std::memory_order_relaxed);
    stopped_.store(false, std::memory_order_relaxed);
    stopWriter_.store(false, std::memory_order_relaxed);

    auto session = std::make_unique<Session>();
    session->path = path;
    session->channels = channels;
    session->bitsPerSample = bitsPerSample;
    session->bytesPerFrame = channels * bitsPerSample / 8;
    // Whole frames, and even so that the pad byte of an odd data chunk still fits.
    std::uint64_t limit =
        dataByteLimit_ - dataByteLimit_ % static_cast<std::uint64_t>(session->bytesPerFrame);
    session->limitBytes = limit & ~std::uint64_t{1};
    session->buffer.resize(kChunkFrames * static_cast<std::size_t>(session->bytesPerFrame));

    std::string error;
    const int fd = openRegularFile(path, error);
    if (fd < 0) {
        setError(error);
        return kFileFailed;
    }
    session->fd = fd;

    // The header is complete from the start (sizes of an empty recording): the file is valid at once.
    unsigned char header[kHeaderBytes];
    std::memcpy(header + 0, "RIFF", 4);
    putLe(header + 4, 36, 4);
    std::memcpy(header + 8, "WAVE", 4);
    std::memcpy(header + 12, "fmt ", 4);
    putLe(header + 16, 16, 4);
    putLe(header + 20, 1, 2);
    putLe(header + 22, static_cast<std::uint32_t>(channels), 2);
    putLe(header + 24, static_cast<std::uint32_t>(sampleRate), 4);
    putLe(header + 28, static_cast<std::uint32_t>(sampleRate * session->bytesPerFrame), 4);
    putLe(header + 32, static_cast<std::uint32_t>(session->bytesPerFrame), 2);
    putLe(header + 34, static_cast<std::uint32_t>(bitsPerSample), 2);
    std::memcpy(header + 36, "data", 4);
    putLe(header + 40, 0, 4);
    if (!writeAll(fd, header, sizeof header)) {
        int error = errno;
        // Remove the partial file, but never a device or anything else that is not a plain file.
        struct stat info {};
        bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
        ::close(fd);
        if (regular)
            ::unlink(path);
        setError("cannot write " + session->path + ": " + describeErrno(error));
        return kFileFailed;
    }
    session->lastSizeRewrite = Clock::now();

    session_ = std::move(session);
    try {
        writer_ = std::thread(&WavRecorder::writerLoop, this);
    } catch (const std::exception&) {
        ::close(session_->fd);
        session_.reset();
        setError("cannot start the recording thread");
        return kFileFailed;
    }
    accepting_.store(true, std::memory_order_seq_cst);
    return kOk;
}

int WavRecorder::writeFrame(int left, int right) {
    const std::int16_t frame[2] = {static_cast<std::int16_t>(left), static_cast<std::int16_t>(right)};
    return writeFrames(frame, 1);
}

int WavRecorder::writeFrames(const std::int16_t* interleavedStereo, int frames) {
    // finish() waits until no producer is inside before it takes the ring's last frames.
    writersInside_.fetch_add(1, std::memory_order_seq_cst);
    int status = kBadArgument;
    if (accepting_.load(std::memory_order_seq_cst)) {
        status = stopped_.load(std::memory_order_relaxed) ? kFileFailed : kOk;
        int done = 0;
        while (status == kOk && done < frames) {
            const std::uint64_t head = head_.load(std::memory_order_relaxed);
            const std::uint64_t tail = tail_.load(std::memory_order_acquire);
            const std::uint64_t room = ringMask_ + 1 - (head - tail);
            const int now =
                static_cast<int>(std::min<std::uint64_t>(room, static_cast<std::uint64_t>(frames - done)));
            if constexpr (std::endian::native == std::endian::little) {
                // A packed frame is the frame's two samples as they lie in memory: copied in (at most)
                // two pieces, around the ring's end.
                const std::size_t start = static_cast<std::size_t>(head) & ringMask_;
                const std::size_t first =
                    std::min<std::size_t>(static_cast<std::size_t>(now), ringMask_ + 1 - start);
                std::memcpy(ring_.get() + start, interleavedStereo + 2 * done, first * 4);
                std::memcpy(ring_.get(), interleavedStereo + 2 * (static_cast<std::size_t>(done) + first),
                            (static_cast<std::size_t>(now) - first) * 4);
            } else {
                for (int i = 0; i < now; ++i) {
                    const std::int16_t* frame = interleavedStereo + 2 * (done + i);
                    ring_[(head + static_cast<std::uint64_t>(i)) & ringMask_] =
                        static_cast<std::uint16_t>(frame[0]) |
                        (static_cast<std::uint32_t>(static_cast<std::uint16_t>(frame[1])) << 16);
                }
            }
            head_.store(head + static_cast<std::uint64_t>(now), std::memory_order_release);
            done += now;
            if (done == frames)
                break;
            if (!blockingWhenFull_.load(std::memory_order_relaxed) ||
                stopped_.load(std::memory_order_relaxed)) {
                framesDropped_.fetch_add(static_cast<std::uint64_t>(frames - done),
                                         std::memory_order_relaxed);
                status = kFileFailed;
                break;
            }
            // Offline rendering only: there is no deadline, so wake the writer and wait for room.
            session_->wake.notify_one();
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }
    writersInside_.fetch_sub(1, std::memory_order_seq_cst);
    return status;
}

void WavRecorder::rewriteSizes(Session& s) {
    unsigned char size[4];
    putLe(size, static_cast<std::uint32_t>(36 + s.dataBytes), 4);
    bool ok = writeAll(s.fd, size, 4, 4);
    putLe(size, static_cast<std::uint32_t>(s.dataBytes), 4);
    ok = ok && writeAll(s.fd, size, 4, 40);
    if (!ok && !s.failed) {
        s.failed = true;
        stopped_.store(true, std::memory_order_relaxed);
        setError("cannot update " + s.path + ": " + describeErrno(errno));
    }
    if (!s.failed && fileWasDeleted(s.fd)) {
        s.failed = true;
        stopped_.store(true, std::memory_order_relaxed);
        setError("the file " + s.path + " was deleted while recording");
    }
    s.sizesWrittenFor = s.dataBytes;
    s.lastSizeRewrite = Clock::now();
}

void WavRecorder::writerLoop() {
    Session& s = *session_;

    for (;;) {
        const bool stopping = stopWriter_.load(std::memory_order_acquire);
        const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
        const std::uint64_t head = head_.load(std::memory_order_acquire);
        std::uint64_t available = head - tail;
        // 16-bit stereo on a little-endian host: the ring's packed frames are the file's bytes, written
        // from the ring itself (the producer takes the room back only once tail_ moves past them). The
        // pieces stay one chunk long: a failed write loses at most the chunk it was writing.
        const bool asStored =
            std::endian::native == std::endian::little && s.bitsPerSample == 16 && s.channels == 2;
        const std::size_t frames = static_cast<std::size_t>(std::min<std::uint64_t>(available, kChunkFrames));

        if (frames > 0 && !s.failed) {
            std::size_t fitting = frames;
            const std::uint64_t room =
                (s.limitBytes - s.dataBytes) / static_cast<std::uint64_t>(s.bytesPerFrame);
            if (fitting > room) {
                fitting = static_cast<std::size_t>(room);
                if (!limitReached_.load(std::memory_order_relaxed)) {
                    limitReached_.store(true, std::memory_order_relaxed);
                    stopped_.store(true, std::memory_order_relaxed);
                    setError("the recording reached the largest size a WAV file can hold and was stopped");
                }
            }
            const std::size_t start = static_cast<std::size_t>(tail) & ringMask_;
            const std::size_t firstPiece = std::min(fitting, ringMask_ + 1 - start);
            const std::size_t bytes = asStored ? fitting * 4
                                               : fileBytes(ring_.get(), ringMask_, tail, fitting,
                                                           s.bitsPerSample, s.channels, s.buffer.data());
            const auto written = [&] {
                if (!asStored)
                    return writeAll(s.fd, s.buffer.data(), bytes);
                const auto* ring = reinterpret_cast<const unsigned char*>(ring_.get());
                return writeAll(s.fd, ring + 4 * start, 4 * firstPiece) &&
                       writeAll(s.fd, ring, 4 * (fitting - firstPiece));
            };
            if (bytes > 0) {
                if (written()) {
                    s.dataBytes += bytes;
                    framesWritten_.fetch_add(fitting, std::memory_order_relaxed);
                } else {
                    const int error = errno;
                    s.failed = true;
                    stopped_.store(true, std::memory_order_relaxed);
                    setError("cannot write " + s.path + ": " + describeErrno(error));
                    // Part of the chunk may have reached the file: keep the sizes at the last whole chunk
                    // and cut off the rest so that the file stays a valid WAV.
                    if (::ftruncate(s.fd, static_cast<off_t>(kHeaderBytes + s.dataBytes)) == 0) {
                        ::lseek(s.fd, 0, SEEK_END);
                    }
                }
            }
        }
        // Frames that the file cannot take any more (after a failure or at the limit) are discarded;
        // finish() reports why.
        tail_.store(tail + frames, std::memory_order_release);
        available -= frames;

        if (s.dataBytes != s.sizesWrittenFor && Clock::now() - s.lastSizeRewrite >= kSizeRewriteInterval) {
            // Data first, then the sizes that describe it: after a power loss the header claims at
            // most what the last half second wrote beyond the synced data.
            ::fdatasync(s.fd);
            rewriteSizes(s);
        } else if (s.dataBytes - s.sizesWrittenFor >= kSizeRewriteBytes) {
            // No sync here: a killed process leaves its writes to the system in order, and syncing
            // every MiB would hold a fast offline render back.
            rewriteSizes(s);
        }
        if (available > 0)
            continue;
        if (stopping)
            break;
        std::unique_lock<std::mutex> lock(s.wakeMutex);
        s.wake.wait_for(lock, kWriterPoll, [this] {
            return stopWriter_.load(std::memory_order_acquire) ||
                   head_.load(std::memory_order_acquire) != tail_.load(std::memory_order_relaxed);
        });
    }
}

int WavRecorder::stopSession() {
    // No producer may enter after this; wait for any still inside (the writer keeps draining, so a
    // producer blocked on a full ring gets its room).
    accepting_.store(false, std::memory_order_seq_cst);
    while (writersInside_.load(std::memory_order_seq_cst) != 0)
        std::this_thread::yield();
    {
        std::lock_guard<std::mutex> lock(session_->wakeMutex);
        stopWriter_.store(true, std::memory_order_release);
    }
    session_->wake.notify_one();
    writer_.join();
    // Whatever the writer could not take (after a failure) belongs to no later recording.
    tail_.store(head_.load(std::memory_order_acquire), std::memory_order_release);

    Session& s = *session_;
    bool ok = !s.failed;
    std::string error;
    if (ok && (s.dataBytes & 1u)) {
        const unsigned char pad = 0; // RIFF chunks have even length
        ok = writeAll(s.fd, &pad, 1);
        if (!ok)
            error = "cannot write " + s.path + ": " + describeErrno(errno);
    }
    if (ok && fileWasDeleted(s.fd)) {
        ok = false;
        error = "the file " + s.path + " was deleted while recording";
    }
    const std::uint64_t padded = s.dataBytes + (s.dataBytes & 1u);
    unsigned char size[4];
    putLe(size, static_cast<std::uint32_t>(36 + (ok ? padded : s.dataBytes)), 4);
    bool sizesOk = writeAll(s.fd, size, 4, 4);
    putLe(size, static_cast<std::uint32_t>(s.dataBytes), 4);
    sizesOk = sizesOk && writeAll(s.fd, size, 4, 40);
    if (!sizesOk && ok) {
        ok = false;
        error = "cannot update " + s.path + ": " + describeErrno(errno);
    }
    if (::fsync(s.fd) != 0 && ok && errno != EINVAL && errno != EROFS) {
        ok = false;
        error = "cannot write " + s.path + ": " + describeErrno(errno);
    }
    if (::close(s.fd) != 0 && ok) {
        ok = false;
        error = "cannot close " + s.path + ": " + describeErrno(errno);
    }
    session_.reset();
    stopWriter_.store(false, std::memory_order_relaxed);

    if (!error.empty())
        setError(error);
    if (!ok)
        return kFileFailed;
    if (limitReached_.load(std::memory_order_relaxed))
        return kFileFailed;
    if (const std::uint64_t dropped = framesDropped_.load(std::memory_order_relaxed); dropped > 0) {
        setError(std::to_string(dropped) +
                 " frames could not be written in time and are missing from the recording");
        return kFileFailed;
    }
    return kOk;
}

int WavRecorder::finish() {
    if (!session_) {
        setError("no recording is running");
        return kBadArgument;
    }
    return stopSession();
}

int WavRecorder::close() {
    return finish();
}

} // namespace common
