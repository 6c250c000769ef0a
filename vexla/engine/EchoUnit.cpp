// Stereo echo with one shared read position and feedback 0.7.
#include "vexla/engine/EchoUnit.h"

#include <algorithm>

namespace vexla {

EchoUnit::EchoUnit(int samplesPerStep)
    : readPos_(readPosFor(2, samplesPerStep)), settingReadPos_(readPos_) {}

std::int32_t EchoUnit::readPosFor(int k, int samplesPerStep) {
    // 64-bit product, clamped before it becomes a position: never outside the lines.
    const std::int64_t pos = static_cast<std::int64_t>(kEchoLineFrames) -
                             static_cast<std::int64_t>(k + 1) * static_cast<std::int64_t>(samplesPerStep);
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(pos, 0, kPositionMask));
}

StereoFrame EchoUnit::process(float sendLeft, float sendRight) {
    // Take a posted alterEcho whole: read and write positions change together on this thread only.
    if (pendingReadPos_.load(std::memory_order_relaxed) != kNoPending) {
        const std::int32_t posted = pendingReadPos_.exchange(kNoPending, std::memory_order_relaxed);
        if (posted != kNoPending) {
            readPos_ = posted & kPositionMask;
            writeLeft_ = kPositionMask;
            writeRight_ = kPositionMask;
        }
    }
    const auto r = static_cast<std::size_t>(readPos_);
    const StereoFrame out{delayLeft_[r], delayRight_[r]};
    delayLeft_[static_cast<std::size_t>(writeLeft_)] = out.left * kFeedback + sendLeft;
    delayRight_[static_cast<std::size_t>(writeRight_)] = out.right * kFeedback + sendRight;
    readPos_ = (readPos_ + 1) & kPositionMask;
    writeLeft_ = (writeLeft_ + 1) & kPositionMask;
    writeRight_ = (writeRight_ + 1) & kPositionMask;
    return out;
}

int EchoUnit::alterEcho(common::Random& random, int samplesPerStep) {
    const int k = random.below(5);
    // Two further draws that nothing reads, kept so that a seed gives the same later draws.
    (void)random.below(5);
    (void)random.below(256);
    postReadPos(readPosFor(k, samplesPerStep));
    return k;
}

void EchoUnit::clear() {
    delayLeft_.fill(0.0f);
    delayRight_.fill(0.0f);
}

} // namespace vexla
