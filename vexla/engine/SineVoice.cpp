// The sine melody's generator, step load and oscillator.
#include "vexla/engine/SineVoice.h"

#include "vexla/engine/BassVoice.h"
#include "vexla/engine/FastSine.h"
#include "vexla/engine/RunFrames.h"

#include <cmath>

namespace vexla {

void SineVoice::generate(SinePattern& pattern, common::Random& random, int stepCount) {
    const int count = drawEchoLevelsAndDecays(pattern, random, stepCount, 0.000002f);
    for (int i = 0; i < count; ++i)
        pattern.notes[i] = randomNote(random);
}

void SineVoice::stepLoad(int s, int transpose) {
    target_ = pattern.levels[s];
    targetDecay_ = pattern.decays[s];
    const float exponent = static_cast<float>(pattern.notes[s] + transpose + 24) * kOneTwelfth;
    increment_ = static_cast<float>(std::pow(2.0, static_cast<double>(exponent)));
}

void SineVoice::render(float* out, int n, float volume) {
    // The angles and amplitudes first, then the sines, so that the sines of the whole run go together.
    float angles[kMaxRunFrames], amps[kMaxRunFrames];
    float phase = phase_, target = target_, amp = amp_;
    const float increment = increment_, targetDecay = targetDecay_;
    for (int i = 0; i < n; ++i) {
        phase += increment;
        angles[i] = phase * 6.28f / 512.0f; // the phase before the wrap
        if (phase >= 512.0f)
            phase -= 512.0f;
        amps[i] = amp;
        // Never rests: alternates around the target in steps of 0.05.
        if (amp < target)
            amp += 0.05f;
        else
            amp -= 0.05f;
        target -= targetDecay;
        if (target < 0.0f)
            target = 0.0f;
    }
    phase_ = phase;
    target_ = target;
    amp_ = amp;
    for (int i = 0; i < n; ++i)
        out[i] = fastSin(angles[i]) * 16384.0f * amps[i] * volume;
}

} // namespace vexla
