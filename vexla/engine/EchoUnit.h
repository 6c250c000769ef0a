// "Echo Alter": a stereo echo, one 65536-frame line per channel, feedback 0.7, delay of one to five steps
// less one frame. process() on the audio thread only; alterEcho() on the window thread (it posts the new
// positions, which the render takes whole at its next frame); clear() only while no render runs.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include "common/Random.h"
#include "vexla/engine/StereoFrame.h"

namespace vexla {

class EchoUnit {
public:
    static constexpr int kEchoLineFrames = 65536;
    static constexpr std::int32_t kPositionMask = kEchoLineFrames - 1;
    /// 0.7 in single precision (0.699999988079071), the gain of the delayed signal written back.
    static constexpr float kFeedback = 0.7f;

    /// Read position 65536 − 3 × samplesPerStep (clamped at 0), writes at 65535.
    explicit EchoUnit(int samplesPerStep = 5000);
    EchoUnit(const EchoUnit&) = delete;
    EchoUnit& operator=(const EchoUnit&) = delete;

    /// One frame: returns the delayed left and right, and writes delayed × 0.7 + send into each line.
    StereoFrame process(float sendLeft, float sendRight);

    /// n frames in place: the sends in left[i], right[i] become the delayed outputs, as n calls of
    /// process() would give them; a posted alterEcho is taken at the start of the run.
    void processRun(float* left, float* right, int n);

    /// "Echo Alter" and every tempo report: k = randomBelow(5), then two further draws (randomBelow(5),
    /// randomBelow(256)) that nothing reads; the delay becomes (k + 1) × samplesPerStep − 1 frames, capped
    /// at 65535. Returns k.
    int alterEcho(common::Random& random, int samplesPerStep);

    /// Posts a read position (writes restart at 65535), as alterEcho does: a scene's or an undo step's
    /// echo setting. Any thread; the render takes it whole at its next frame.
    void postReadPos(std::int32_t readPos) {
        const std::int32_t pos = readPos & kPositionMask;
        settingReadPos_.store(pos, std::memory_order_relaxed);
        pendingReadPos_.store(pos, std::memory_order_relaxed);
    }

    /// The read position of the latest setting (posted or taken), counted with writes at 65535: what a
    /// scene keeps of the echo. Any thread.
    std::int32_t settingReadPos() const { return settingReadPos_.load(std::memory_order_relaxed); }

    /// Zeroes both delay lines. Window thread, before the stream starts or under engineLock.
    void clear();

    /// Read position for a delay of (k + 1) × samplesPerStep − 1 frames with writes at 65535: never negative.
    static std::int32_t readPosFor(int k, int samplesPerStep);

    /// Positions as the render holds them (audio thread, or while no render runs). A pending alterEcho
    /// is not yet included.
    std::int32_t readPos() const { return readPos_; }
    std::int32_t writeLeft() const { return writeLeft_; }
    std::int32_t writeRight() const { return writeRight_; }
    /// (writeLeft − readPos) mod 65536.
    std::int32_t delayFrames() const { return (writeLeft_ - readPos_) & kPositionMask; }

private:
    static constexpr std::int32_t kNoPending = -1;

    void takePosted();
    StereoFrame processFrame(float sendLeft, float sendRight);

    std::array<float, kEchoLineFrames> delayLeft_{};
    std::array<float, kEchoLineFrames> delayRight_{};
    std::int32_t readPos_;
    std::int32_t writeLeft_ = kPositionMask;
    std::int32_t writeRight_ = kPositionMask;
    /// A read position posted by alterEcho, or kNoPending. Posting one value whole keeps the render from
    /// mixing a new read position with a write position it advanced itself.
    std::atomic<std::int32_t> pendingReadPos_{kNoPending};
    std::atomic<std::int32_t> settingReadPos_;
};

inline void EchoUnit::takePosted() {
    // Take a posted alterEcho whole: read and write positions change together on this thread only.
    if (pendingReadPos_.load(std::memory_order_relaxed) != kNoPending) {
        const std::int32_t posted = pendingReadPos_.exchange(kNoPending, std::memory_order_relaxed);
        if (posted != kNoPending) {
            readPos_ = posted & kPositionMask;
            writeLeft_ = kPositionMask;
            writeRight_ = kPositionMask;
        }
    }
}

inline StereoFrame EchoUnit::processFrame(float sendLeft, float sendRight) {
    const auto r = static_cast<std::size_t>(readPos_);
    const StereoFrame out{delayLeft_[r], delayRight_[r]};
    delayLeft_[static_cast<std::size_t>(writeLeft_)] = out.left * kFeedback + sendLeft;
    delayRight_[static_cast<std::size_t>(writeRight_)] = out.right * kFeedback + sendRight;
    readPos_ = (readPos_ + 1) & kPositionMask;
    writeLeft_ = (writeLeft_ + 1) & kPositionMask;
    writeRight_ = (writeRight_ + 1) & kPositionMask;
    return out;
}

inline StereoFrame EchoUnit::process(float sendLeft, float sendRight) {
    takePosted();
    return processFrame(sendLeft, sendRight);
}

inline void EchoUnit::processRun(float* left, float* right, int n) {
    takePosted();
    if (delayFrames() < n) {
        // A frame of the run would read what an earlier one wrote: frame by frame.
        for (int i = 0; i < n; ++i) {
            const StereoFrame out = processFrame(left[i], right[i]);
            left[i] = out.left;
            right[i] = out.right;
        }
        return;
    }
    // No frame reads what another frame of the run writes before it, so each stretch between the lines'
    // wrap points can go four frames at a time: the same products and sums, in the same order per frame.
    int i = 0;
    while (i < n) {
        const int r = readPos_;
        const int wl = writeLeft_;
        const int wr = writeRight_;
        const int stretch = std::min({n - i, kEchoLineFrames - r, kEchoLineFrames - wl, kEchoLineFrames - wr});
        int j = 0;
#if defined(__SSE2__)
        const float* readLeft = delayLeft_.data() + r;
        const float* readRight = delayRight_.data() + r;
        float* writeLeft = delayLeft_.data() + wl;
        float* writeRight = delayRight_.data() + wr;
        const __m128 feedback = _mm_set1_ps(kFeedback);
        for (; j + 4 <= stretch; j += 4) {
            const __m128 outLeft = _mm_loadu_ps(readLeft + j);
            const __m128 outRight = _mm_loadu_ps(readRight + j);
            _mm_storeu_ps(writeLeft + j, _mm_add_ps(_mm_mul_ps(outLeft, feedback), _mm_loadu_ps(left + i + j)));
            _mm_storeu_ps(writeRight + j, _mm_add_ps(_mm_mul_ps(outRight, feedback), _mm_loadu_ps(right + i + j)));
            _mm_storeu_ps(left + i + j, outLeft);
            _mm_storeu_ps(right + i + j, outRight);
        }
#endif
        readPos_ = (r + j) & kPositionMask;
        writeLeft_ = (wl + j) & kPositionMask;
        writeRight_ = (wr + j) & kPositionMask;
        for (; j < stretch; ++j) {
            const StereoFrame out = processFrame(left[i + j], right[i + j]);
            left[i + j] = out.left;
            right[i + j] = out.right;
        }
        i += stretch;
    }
}

} // namespace vexla
