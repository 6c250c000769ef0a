// SSE2 versions of the voices' sine, for the three synth voices rendered side by side: sineLanes() is
// sine() on two lanes, TrackedSineLanes two TrackedSines; every lane is bit for bit the scalar result.
// Pure; a TrackedSineLanes belongs to the audio thread's render.
#pragma once

#include "zintor/engine/Sine.h"

#include <emmintrin.h>

namespace zintor {

/// sine() of two lanes at once, with the same operations in the same order, so that every lane is
/// bit for bit what sine() gives. For |x| below 2^31 × 2π.
[[gnu::always_inline]] inline __m128d sineLanes(__m128d x) {
    constexpr double kTwoPiHigh = 0x1.921fb54400000p+2;
    constexpr double kTwoPiLow = 0x1.0b4611a626331p-32;
    constexpr double kInvTwoPi = 0.15915494309189535;
    constexpr double kPi = 0x1.921fb54442d18p+1;
    constexpr double kHalfPi = kPi * 0.5;

    const __m128d scaled = _mm_mul_pd(x, _mm_set1_pd(kInvTwoPi));
    const __m128d nonNegative = _mm_cmpge_pd(scaled, _mm_setzero_pd());
    const __m128d half =
        _mm_or_pd(_mm_and_pd(nonNegative, _mm_set1_pd(0.5)), _mm_andnot_pd(nonNegative, _mm_set1_pd(-0.5)));
    const __m128d k = _mm_cvtepi32_pd(_mm_cvttpd_epi32(_mm_add_pd(scaled, half)));
    __m128d y = _mm_sub_pd(_mm_sub_pd(x, _mm_mul_pd(k, _mm_set1_pd(kTwoPiHigh))),
                           _mm_mul_pd(k, _mm_set1_pd(kTwoPiLow)));
    const __m128d above = _mm_cmpgt_pd(y, _mm_set1_pd(kHalfPi));
    const __m128d below = _mm_cmplt_pd(y, _mm_set1_pd(-kHalfPi));
    const __m128d folded = _mm_sub_pd(
        _mm_or_pd(_mm_and_pd(above, _mm_set1_pd(kPi)), _mm_andnot_pd(above, _mm_set1_pd(-kPi))), y);
    y = _mm_or_pd(_mm_and_pd(_mm_or_pd(above, below), folded), _mm_andnot_pd(_mm_or_pd(above, below), y));

    const __m128d u = _mm_mul_pd(y, y);
    __m128d p = _mm_set1_pd(-1.0 / 121645100408832000.0);
    p = _mm_add_pd(_mm_mul_pd(p, u), _mm_set1_pd(1.0 / 355687428096000.0));
    p = _mm_sub_pd(_mm_mul_pd(p, u), _mm_set1_pd(1.0 / 1307674368000.0));
    p = _mm_add_pd(_mm_mul_pd(p, u), _mm_set1_pd(1.0 / 6227020800.0));
    p = _mm_sub_pd(_mm_mul_pd(p, u), _mm_set1_pd(1.0 / 39916800.0));
    p = _mm_add_pd(_mm_mul_pd(p, u), _mm_set1_pd(1.0 / 362880.0));
    p = _mm_sub_pd(_mm_mul_pd(p, u), _mm_set1_pd(1.0 / 5040.0));
    p = _mm_add_pd(_mm_mul_pd(p, u), _mm_set1_pd(1.0 / 120.0));
    p = _mm_sub_pd(_mm_mul_pd(p, u), _mm_set1_pd(1.0 / 6.0));
    return _mm_add_pd(y, _mm_mul_pd(_mm_mul_pd(y, u), p));
}

[[gnu::always_inline]] inline __m128d cosineLanes(__m128d x) {
    return sineLanes(_mm_add_pd(x, _mm_set1_pd(0x1.921fb54442d18p+0)));
}

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

    void load(const TrackedSine& a, const TrackedSine& b) {
        phase = _mm_setr_pd(a.phase_, b.phase_);
        sin = _mm_setr_pd(a.sin_, b.sin_);
        cos = _mm_setr_pd(a.cos_, b.cos_);
        delta = _mm_setr_pd(a.delta_, b.delta_);
        previousDelta = _mm_setr_pd(a.previousDelta_, b.previousDelta_);
        sinDelta = _mm_setr_pd(a.sinDelta_, b.sinDelta_);
        cosDelta = _mm_setr_pd(a.cosDelta_, b.cosDelta_);
        countdown = _mm_setr_pd(a.countdown_, b.countdown_);
        rotating = _mm_castsi128_pd(_mm_set_epi64x(b.rotating_ ? -1 : 0, a.rotating_ ? -1 : 0));
    }

    void store(TrackedSine& a, TrackedSine& b) const {
        alignas(16) double pair[2];
        const auto split = [&pair](__m128d lanes, double& first, double& second) {
            _mm_store_pd(pair, lanes);
            first = pair[0];
            second = pair[1];
        };
        split(phase, a.phase_, b.phase_);
        split(sin, a.sin_, b.sin_);
        split(cos, a.cos_, b.cos_);
        split(delta, a.delta_, b.delta_);
        split(previousDelta, a.previousDelta_, b.previousDelta_);
        split(sinDelta, a.sinDelta_, b.sinDelta_);
        split(cosDelta, a.cosDelta_, b.cosDelta_);
        double countA;
        double countB;
        split(countdown, countA, countB);
        a.countdown_ = static_cast<int>(countA);
        b.countdown_ = static_cast<int>(countB);
        const int rotatingBits = _mm_movemask_pd(rotating);
        a.rotating_ = (rotatingBits & 1) != 0;
        b.rotating_ = (rotatingBits & 2) != 0;
    }

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

} // namespace zintor
