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
    Run run(*this, random, volume);
    for (int i = 0; i < n; ++i)
        out[i] = run.next();
    run.finish();
}

} // namespace vexla
