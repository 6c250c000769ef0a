// The hi-hats' generator, step load and noise.
#include "vexla/engine/HatVoice.h"

namespace vexla {

void HatVoice::generate(HatPattern& pattern, common::Random& random, int stepCount) {
    drawEchoLevelsAndDecays(pattern, random, stepCount, 0.00001f);
    pattern.accentOff = random.below(2);
}

void HatVoice::stepLoad(int s) {
    level_ = pattern.levels[s];
    decay_ = pattern.decays[s];
    tone_ = 0.8f;
    if (s % 4 == 2) {
        level_ *= 2.0f;
        decay_ *= 0.5f;
    }
    if (s % 8 == 4 && pattern.accentOff == 0) {
        level_ = 1.0f;
        decay_ = 0.001f;
        tone_ = 0.2f;
    }
}

void HatVoice::render(float* out, int n, common::Random& random, float volume) {
    float level = level_, smooth1 = smooth1_, smooth2 = smooth2_;
    const float decay = decay_, tone = tone_;
    for (int i = 0; i < n; ++i) {
        const float noise = static_cast<float>(random.next() - 16384) * level;
        level -= decay;
        if (level < 0.0f)
            level = 0.0f;
        smooth1 += (noise - smooth1) * tone;
        smooth2 += (smooth1 - smooth2) * tone;
        out[i] = (smooth2 - noise) * volume;
    }
    level_ = level;
    smooth1_ = smooth1;
    smooth2_ = smooth2;
}

} // namespace vexla
