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
