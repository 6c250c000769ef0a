// Noise drum: decaying unipolar noise minus its twice-smoothed copy.
#include "zintor/engine/NoiseDrum.h"

namespace zintor {

void NoiseDrum::strike() { level = 1.0f; }

float NoiseDrum::renderSample(common::Random& random) {
    const int v = random.next();
    level *= decay.load(std::memory_order_relaxed);
    const float x = static_cast<float>(v) * (1.0f / 32768.0f) * level;
    const float t = tone.load(std::memory_order_relaxed);
    smooth1 += (x - smooth1) * t;
    smooth2 += (smooth1 - smooth2) * t;
    return x - smooth2;
}

} // namespace zintor
