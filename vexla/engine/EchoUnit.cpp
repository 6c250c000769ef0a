// Stereo echo with one shared read position and feedback 0.7.
#include "vexla/engine/EchoUnit.h"

#include <algorithm>

namespace vexla {

EchoUnit::EchoUnit(int samplesPerStep) : readPos_(readPosFor(2, samplesPerStep)), settingReadPos_(readPos_) {}

std::int32_t EchoUnit::readPosFor(int k, int samplesPerStep) {
    // 64-bit product, clamped before it becomes a position: never outside the lines.
    const std::int64_t pos = static_cast<std::int64_t>(kEchoLineFrames) -
                             static_cast<std::int64_t>(k + 1) * static_cast<std::int64_t>(samplesPerStep);
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(pos, 0, kPositionMask));
}

std::int32_t EchoUnit::chooseDelay(common::Random& random, int samplesPerStep) {
    const int k = random.below(5);
    // Two further draws that nothing reads, kept so that a seed gives the same later draws.
    (void)random.below(5);
    (void)random.below(256);
    return readPosFor(k, samplesPerStep);
}

namespace {

/// A run of the echo that neither wraps nor writes where it reads, so that the compiler may work
/// several frames at a time: the same arithmetic as the frame-by-frame loop below.
void renderApart(const float* __restrict readLeft, const float* __restrict readRight,
                 float* __restrict writeLeft, float* __restrict writeRight, const float* __restrict sendLeft,
                 const float* __restrict sendRight, float* __restrict outLeft, float* __restrict outRight,
                 int n) {
    for (int i = 0; i < n; ++i) {
        const float delayedLeft = readLeft[i];
        const float delayedRight = readRight[i];
        writeLeft[i] = delayedLeft * EchoUnit::kFeedback + sendLeft[i];
        writeRight[i] = delayedRight * EchoUnit::kFeedback + sendRight[i];
        outLeft[i] = delayedLeft;
        outRight[i] = delayedRight;
    }
}

} // namespace

void EchoUnit::render(const float* sendLeft, const float* sendRight, float* outLeft, float* outRight, int n) {
    float* const lineLeft = delayLeft_.data();
    float* const lineRight = delayRight_.data();
    std::int32_t readPos = readPos_, writeLeft = writeLeft_, writeRight = writeRight_;
    // Apart: no position wraps within the run, and each write range lies clear of the read range (a
    // delay of n to 65536 − n frames), so no frame reads what an earlier frame of the run wrote.
    const auto clear = [&](std::int32_t write) {
        const std::int32_t delay = (write - readPos) & kPositionMask;
        return write + n <= kEchoLineFrames && delay >= n && delay <= kEchoLineFrames - n;
    };
    if (readPos + n <= kEchoLineFrames && clear(writeLeft) && clear(writeRight)) {
        renderApart(lineLeft + readPos, lineRight + readPos, lineLeft + writeLeft, lineRight + writeRight,
                    sendLeft, sendRight, outLeft, outRight, n);
        readPos_ = (readPos + n) & kPositionMask;
        writeLeft_ = (writeLeft + n) & kPositionMask;
        writeRight_ = (writeRight + n) & kPositionMask;
        return;
    }
    for (int i = 0; i < n; ++i) {
        // Read before write: with a delay of 0 a frame hears the line as it was.
        const float delayedLeft = lineLeft[readPos];
        const float delayedRight = lineRight[readPos];
        lineLeft[writeLeft] = delayedLeft * kFeedback + sendLeft[i];
        lineRight[writeRight] = delayedRight * kFeedback + sendRight[i];
        outLeft[i] = delayedLeft;
        outRight[i] = delayedRight;
        readPos = (readPos + 1) & kPositionMask;
        writeLeft = (writeLeft + 1) & kPositionMask;
        writeRight = (writeRight + 1) & kPositionMask;
    }
    readPos_ = readPos;
    writeLeft_ = writeLeft;
    writeRight_ = writeRight;
}

void EchoUnit::clear() {
    delayLeft_.fill(0.0f);
    delayRight_.fill(0.0f);
}

} // namespace vexla
