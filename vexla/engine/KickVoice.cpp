// The kick's generator and its two sine partials.
#include "vexla/engine/KickVoice.h"

#include "vexla/engine/FastSine.h"
#include "vexla/engine/RunFrames.h"

#include <algorithm>

namespace vexla {

void KickVoice::generate(KickPattern& pattern, common::Random& random) {
    pattern.startFreq = static_cast<float>(random.below(64)) * (1.0f / 2048.0f) + 0.06f;
    pattern.slide1 = static_cast<float>(random.below(1024)) * 0.000004859842f * 0.08f;
}

void KickVoice::trigger() {
    state_.freq1 = pattern.startFreq;
    state_.freq2 = 2.0f * state_.freq1;
    state_.phase1 = 0.0f;
    state_.phase2 = 0.0f;
}

void KickVoice::render(float* out, int n, float volume) {
    const float slide = pattern.slide1;
    // A partial whose frequency has fallen to 0 holds its phase (the octave's wrap leaves a phase of at
    // most 6.28 alone): its sine is the same for the whole run, worked out once. Past the first few
    // hundred frames after a trigger both partials hold, and the run costs no sine at all and leaves
    // the voice as it was.
    const bool holds1 = state_.freq1 == 0.0f && slide >= 0.0f;
    const bool holds2 = state_.freq2 == 0.0f && slide >= 0.0f && state_.phase2 <= 6.28f;
    if (holds1 && holds2) {
        std::fill(out, out + n, fastSin(state_.phase1) * volume + fastSin(state_.phase2) * volume * 0.5f);
        return;
    }
    // The partials' phases first, then their sines, so that the sines of the whole run go together.
    float angles1[kMaxRunFrames], angles2[kMaxRunFrames];
    Partials next = state_;
    for (int i = 0; i < n; ++i) {
        angles1[i] = next.phase1;
        angles2[i] = next.phase2;
        next.phase1 += next.freq1; // never wrapped: a trigger resets it every four steps
        next.phase2 += next.freq2;
        if (next.phase2 > 6.28f)
            next.phase2 -= 6.28f;
        next.freq1 -= slide;
        next.freq2 -= slide * 12.0f;
        if (next.freq1 < 0.0f)
            next.freq1 = 0.0f;
        if (next.freq2 < 0.0f)
            next.freq2 = 0.0f;
    }
    state_ = next;
    if (holds2) {
        const float second = fastSin(angles2[0]) * volume * 0.5f;
        for (int i = 0; i < n; ++i)
            out[i] = fastSin(angles1[i]) * volume + second;
    } else if (holds1) { // silenced by a new pattern while the octave still falls
        const float first = fastSin(angles1[0]) * volume;
        for (int i = 0; i < n; ++i)
            out[i] = first + fastSin(angles2[i]) * volume * 0.5f;
    } else {
        for (int i = 0; i < n; ++i)
            out[i] = fastSin(angles1[i]) * volume + fastSin(angles2[i]) * volume * 0.5f;
    }
}

} // namespace vexla
