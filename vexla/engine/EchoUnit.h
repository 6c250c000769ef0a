// "Echo Alter": a stereo echo, one 65536-frame line per channel, feedback 0.7, delay of one to five steps
// less one frame. render() and setReadPos() on the audio thread (the window sends a new read position
// through the engine's mailbox); chooseDelay() anywhere; clear() only while no render runs.
#pragma once

#include "common/NoCopy.h"
#include <array>
#include <cstdint>

#include "common/Random.h"

namespace vexla {

class EchoUnit : common::NoCopy {
  public:
    static constexpr int kEchoLineFrames = 65536;
    static constexpr std::int32_t kPositionMask = kEchoLineFrames - 1;
    /// 0.7 in single precision (0.699999988079071), the gain of the delayed signal written back.
    static constexpr float kFeedback = 0.7f;

    /// Read position 65536 − 3 × samplesPerStep (clamped at 0), writes at 65535.
    explicit EchoUnit(int samplesPerStep = 5000);

    /// n frames: out gets the delayed left and right, and each line takes delayed × 0.7 + send.
    void render(const float* sendLeft, const float* sendRight, float* outLeft, float* outRight, int n);

    /// "Echo Alter" and every tempo report: k = randomBelow(5), then two further draws (randomBelow(5),
    /// randomBelow(256)) that nothing reads. Returns the read position for a delay of (k + 1) ×
    /// samplesPerStep − 1 frames, capped at 65535 (readPosFor(k, samplesPerStep)).
    static std::int32_t chooseDelay(common::Random& random, int samplesPerStep);

    /// Moves the read position (masked to the line) and restarts the writes at 65535, taking both
    /// together so that the delay is never split.
    void setReadPos(std::int32_t readPos) {
        readPos_ = readPos & kPositionMask;
        settingReadPos_ = readPos_;
        writeLeft_ = kPositionMask;
        writeRight_ = kPositionMask;
    }

    /// The read position of the last setting, counted with writes at 65535.
    std::int32_t settingReadPos() const { return settingReadPos_; }

    /// Zeroes both delay lines. Only while no render runs.
    void clear();

    /// Read position for a delay of (k + 1) × samplesPerStep − 1 frames with writes at 65535: never negative.
    static std::int32_t readPosFor(int k, int samplesPerStep);

    /// Positions as the render holds them (audio thread, or while no render runs).
    std::int32_t readPos() const { return readPos_; }
    std::int32_t writeLeft() const { return writeLeft_; }
    std::int32_t writeRight() const { return writeRight_; }
    /// (writeLeft − readPos) mod 65536.
    std::int32_t delayFrames() const { return (writeLeft_ - readPos_) & kPositionMask; }

  private:
    std::array<float, kEchoLineFrames> delayLeft_{};
    std::array<float, kEchoLineFrames> delayRight_{};
    std::int32_t readPos_;
    std::int32_t writeLeft_ = kPositionMask;
    std::int32_t writeRight_ = kPositionMask;
    std::int32_t settingReadPos_;
};

} // namespace vexla
