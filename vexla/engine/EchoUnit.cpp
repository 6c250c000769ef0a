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

void EchoUnit::render(const float* sendLeft, const float* sendRight, float* outLeft, float* outRight, int n) {
    float* const lineLeft = delayLeft_.data();
    float* const lineRight = delayRight_.data();
    std::int32_t readPos = readPos_, writeLeft = writeLeft_, writeRight = writeRight_;
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
