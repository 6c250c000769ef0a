// "Echo Alter": a stereo echo, one 65536-frame line per channel, feedback 0.7, delay of one to five steps
// less one frame. render() on the audio thread only; alterEcho() on the window thread (it posts the new
// positions, which the render takes whole at its next run); clear() only while no render runs.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "common/Random.h"

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

    /// n frames: out gets the delayed left and right, and each line takes delayed × 0.7 + send. A posted
    /// alterEcho is taken at the start of the run.
    void render(const float* sendLeft, const float* sendRight, float* outLeft, float* outRight, int n);

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

} // namespace vexla
