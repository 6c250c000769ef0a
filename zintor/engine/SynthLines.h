// The three synth voices rendered side by side, one per SSE lane, sample for sample as their own
// renderSample() would give them. render() on the audio thread only.
#pragma once

#include "zintor/engine/Sine.h"
#include "zintor/engine/SynthVoice.h"

namespace zintor {

/// Two TrackedSines in the lanes of SSE registers, each following exactly the steps of
/// TrackedSine::next(): the rotation runs in both lanes, the direct evaluation only when a lane needs it.
struct TrackedSineLanes {
    __m128d phase;
    __m128d sin;
    __m128d cos;
    __m128d delta;
    __m128d previousDelta;
    __m128d sinDelta;
    __m128d cosDelta;
    __m128d countdown; // whole numbers
    __m128d rotating;  // all bits set for true

    void load(const TrackedSine& a, const TrackedSine& b);
    void store(TrackedSine& a, TrackedSine& b) const;

    /// sin(phase) in the lanes set in `active` (every lane unless kMasked); the other lanes' state
    /// is left as it was.
    template <bool kMasked> [[gnu::always_inline]] __m128d next(__m128d newPhase, __m128d active) {
        const __m128d step = _mm_sub_pd(newPhase, phase);
        __m128d equal = _mm_and_pd(rotating, _mm_cmpeq_pd(step, delta));
        if constexpr (kMasked) {
            phase = blend(active, newPhase, phase);
            equal = _mm_and_pd(equal, active);
        } else {
            phase = newPhase;
        }
        countdown = _mm_sub_pd(countdown, _mm_and_pd(equal, _mm_set1_pd(1.0)));
        const __m128d fast = _mm_and_pd(equal, _mm_cmpgt_pd(countdown, _mm_setzero_pd()));
        const __m128d rotatedSin = _mm_add_pd(_mm_mul_pd(sin, cosDelta), _mm_mul_pd(cos, sinDelta));
        const __m128d rotatedCos = _mm_sub_pd(_mm_mul_pd(cos, cosDelta), _mm_mul_pd(sin, sinDelta));
        if (!kMasked && _mm_movemask_pd(fast) == 3) { // the usual case: both lanes rotate
            sin = rotatedSin;
            cos = rotatedCos;
            return sin;
        }
        cos = blend(fast, rotatedCos, cos);
        const __m128d slow = _mm_andnot_pd(fast, kMasked ? active : _mm_castsi128_pd(_mm_set1_epi64x(-1)));
        if (kMasked && _mm_movemask_pd(slow) == 0) {
            sin = blend(fast, rotatedSin, sin);
            return sin;
        }
        sin = blend(fast, rotatedSin, blend(slow, sineLanes(newPhase), sin));
        const __m128d restart = _mm_cmpeq_pd(step, previousDelta);
        rotating = blend(slow, restart, rotating);
        const __m128d start = _mm_and_pd(slow, restart);
        if (_mm_movemask_pd(start) != 0) { // the second equal step in a row: rotate from exact values
            cos = blend(start, cosineLanes(newPhase), cos);
            delta = blend(start, step, delta);
            sinDelta = blend(start, sineLanes(step), sinDelta);
            cosDelta = blend(start, cosineLanes(step), cosDelta);
            countdown = blend(start, _mm_set1_pd(TrackedSine::kResyncSamples), countdown);
        }
        previousDelta = blend(slow, step, previousDelta);
        return sin;
    }

    /// Both lanes' rotation on a sample whose step equals `delta` in both (the caller checks), within
    /// a run of rotatingRun() samples; the countdowns are settled by endRun().
    [[gnu::always_inline]] __m128d rotate(__m128d newPhase) {
        phase = newPhase;
        const __m128d rotatedSin = _mm_add_pd(_mm_mul_pd(sin, cosDelta), _mm_mul_pd(cos, sinDelta));
        cos = _mm_sub_pd(_mm_mul_pd(cos, cosDelta), _mm_mul_pd(sin, sinDelta));
        sin = rotatedSin;
        return sin;
    }

    /// How many samples both lanes of `a` and `b` may rotate before a countdown runs out: 0 unless
    /// every lane is rotating.
    static int rotatingRun(const TrackedSineLanes& a, const TrackedSineLanes& b) {
        if ((_mm_movemask_pd(a.rotating) & _mm_movemask_pd(b.rotating)) != 3)
            return 0;
        const __m128d least = _mm_min_pd(a.countdown, b.countdown);
        return _mm_cvttsd_si32(_mm_min_sd(least, _mm_unpackhi_pd(least, least))) - 1;
    }

    /// Counts down `samples` rotated samples.
    void endRun(int samples) { countdown = _mm_sub_pd(countdown, _mm_set1_pd(samples)); }

    [[gnu::always_inline]] static __m128d blend(__m128d mask, __m128d a, __m128d b) {
        return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b));
    }
};

class SynthLines {
  public:
    static constexpr int kLanes = 4;

    /// Renders `frames` samples of the three voices with their ramps into `out`, interleaved four
    /// floats per frame (line 1, line 2, sub bass, unused); `out` is 16-byte aligned. Exactly the
    /// samples of `frames` renderSample() calls on each voice, with the window's fields read once.
    static void render(SynthVoice& line1, SynthVoice& line2, SynthVoice& subBass, float line1Ramp,
                       float line2Ramp, float subBassRamp, float* out, int frames);
};

} // namespace zintor
