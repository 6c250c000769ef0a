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
    freq1_ = pattern.startFreq;
    freq2_ = 2.0f * freq1_;
    phase1_ = 0.0f;
    phase2_ = 0.0f;
}

void KickVoice::render(float* out, int n, float volume) {
    const float slide = pattern.slide1;
    // A partial whose frequency has fallen to 0 holds its phase (the octave's wrap leaves a phase of at
    // most 6.28 alone): its sine is the same for the whole run, worked out once. Past the first few
    // hundred frames after a trigger both partials hold, and the run costs no sine at all and leaves
    // the voice as it was.
    const bool holds1 = freq1_ == 0.0f && slide >= 0.0f;
    const bool holds2 = freq2_ == 0.0f && slide >= 0.0f && phase2_ <= 6.28f;
    if (holds1 && holds2) {
        std::fill(out, out + n, fastSin(phase1_) * volume + fastSin(phase2_) * volume * 0.5f);
        return;
    }
    // The partials' phases first, then their sines, so that the sines of the whole run go together.
    float angles1[kMaxRunFrames], angles2[kMaxRunFrames];
    float phase1 = phase1_, phase2 = phase2_, freq1 = freq1_, freq2 = freq2_;
    for (int i = 0; i < n; ++i) {
        angles1[i] = phase1;
        angles2[i] = phase2;
        phase1 += freq1; // never wrapped: a trigger resets it every four steps
        phase2 += freq2;
        if (phase2 > 6.28f)
            phase2 -= 6.28f;
        freq1 -= slide;
        freq2 -= slide * 12.0f;
        if (freq1 < 0.0f)
            freq1 = 0.0f;
        if (freq2 < 0.0f)
            freq2 = 0.0f;
    }
    phase1_ = phase1;
    phase2_ = phase2;
    freq1_ = freq1;
    freq2_ = freq2;
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
