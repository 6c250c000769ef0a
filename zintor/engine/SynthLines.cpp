// The three synth voices side by side: each sample is one pass of SSE operations over four lanes, so
// the voices' filter and cutoff dependency chains overlap instead of running one after another.
// Every lane does the float and double operations of SynthVoice::tick() in the same order, so the
// samples are bit for bit those of renderSample().
#include "zintor/engine/SynthLines.h"

#include <algorithm>
#include <cstring>

namespace zintor {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

[[gnu::always_inline]] inline __m128 blend(__m128 mask, __m128 a, __m128 b) {
    return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}

[[gnu::always_inline]] inline __m128d allBits(bool on) {
    return _mm_castsi128_pd(_mm_set1_epi64x(on ? -1 : 0));
}

[[gnu::always_inline]] inline __m128 maskOf(bool a, bool b, bool c, bool d) {
    return _mm_castsi128_ps(_mm_setr_epi32(a ? -1 : 0, b ? -1 : 0, c ? -1 : 0, d ? -1 : 0));
}

// The float lanes 0, 1 as doubles, and lanes 2, 3 as doubles.
[[gnu::always_inline]] inline __m128d lowToDouble(__m128 v) {
    return _mm_cvtps_pd(v);
}
[[gnu::always_inline]] inline __m128d highToDouble(__m128 v) {
    return _mm_cvtps_pd(_mm_movehl_ps(v, v));
}
[[gnu::always_inline]] inline __m128 toFloat(__m128d low, __m128d high) {
    return _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));
}

} // namespace

void TrackedSineLanes::load(const TrackedSine& a, const TrackedSine& b) {
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

void TrackedSineLanes::store(TrackedSine& a, TrackedSine& b) const {
    alignas(16) double v[2];
    const auto split = [&v](__m128d x, double& first, double& second) {
        _mm_store_pd(v, x);
        first = v[0];
        second = v[1];
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

void SynthLines::render(SynthVoice& line1, SynthVoice& line2, SynthVoice& subBass, float line1Ramp,
                        float line2Ramp, float subBassRamp, float* out, int frames) {
    // Lane 3 repeats the sub bass so that it computes only ordinary numbers; its output is unused.
    SynthVoice* const voices[kLanes] = {&line1, &line2, &subBass, &subBass};
    SynthVoice::Params p[kLanes];
    for (int i = 0; i < 3; ++i)
        p[i] = voices[i]->loadParams();
    p[3] = p[2];
    alignas(16) float startCutoff[kLanes];
    int types[kLanes];
    for (int i = 0; i < kLanes; ++i) {
        startCutoff[i] = voices[i]->cutoffNow.load(kRelaxed);
        types[i] = voices[i]->filterType.load(kRelaxed);
    }

#define VZ_LANES(expr) _mm_setr_ps(voices[0]->expr, voices[1]->expr, voices[2]->expr, voices[3]->expr)
#define VZ_PARAMS(field) _mm_setr_ps(p[0].field, p[1].field, p[2].field, p[3].field)
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 minusHalf = _mm_set1_ps(-0.5f);
    const __m128 twoPi = _mm_set1_ps(SynthVoice::kTwoPi);
    const __m128 floor = _mm_set1_ps(SynthVoice::kCutoffFloor);
    const __m128 ceiling = _mm_set1_ps(SynthVoice::kCutoffCeiling);
    const __m128 ramp = _mm_setr_ps(line1Ramp, line2Ramp, subBassRamp, subBassRamp);
    const __m128 square = maskOf(p[0].square, p[1].square, p[2].square, p[3].square);
    const __m128 level1 = VZ_PARAMS(level1);
    const __m128 level2 = VZ_PARAMS(level2);
    const __m128 lfoRate = VZ_PARAMS(lfoRate);
    const __m128 cutoff = VZ_PARAMS(cutoff);
    const __m128 resonance = VZ_PARAMS(resonance);
    const __m128 inertia = VZ_PARAMS(inertia);
    const __m128 clip = VZ_PARAMS(clip);
    const __m128 negativeClip = _mm_sub_ps(_mm_setzero_ps(), clip);
    const __m128 makeUp = VZ_PARAMS(makeUp);
    const __m128 volume = VZ_PARAMS(volume);
    const __m128d depthLow = _mm_setr_pd(p[0].lfoDepth, p[1].lfoDepth);
    const __m128d depthHigh = _mm_setr_pd(p[2].lfoDepth, p[3].lfoDepth);
    const __m128 highPass = maskOf(types[0] == 1, types[1] == 1, types[2] == 1, types[3] == 1);
    const __m128 ring = maskOf(types[0] == 2, types[1] == 2, types[2] == 2, types[3] == 2);
    const bool anyRing = _mm_movemask_ps(ring) != 0;
    const bool anyHighPass = _mm_movemask_ps(highPass) != 0;
    const bool anySquare = _mm_movemask_ps(square) != 0;
    const bool inertiaNonNegative = _mm_movemask_ps(_mm_cmpge_ps(inertia, _mm_setzero_ps())) == 0xf;
    const __m128d ringLow = _mm_castps_pd(_mm_unpacklo_ps(ring, ring));
    const __m128d ringHigh = _mm_castps_pd(_mm_unpackhi_ps(ring, ring));
    const __m128d allLanes = allBits(true);

    __m128 ampTarget = VZ_LANES(ampTarget);
    __m128 amp = VZ_LANES(amp);
    const __m128 osc1Increment = VZ_LANES(osc1Increment);
    __m128 osc1Phase = VZ_LANES(osc1Phase);
    const __m128 osc2Increment = VZ_LANES(osc2Increment);
    __m128 osc2Phase = VZ_LANES(osc2Phase);
    const __m128i releaseAt = _mm_setr_epi32(voices[0]->releaseAt, voices[1]->releaseAt, voices[2]->releaseAt,
                                             voices[3]->releaseAt);
    __m128i sinceTrigger = _mm_setr_epi32(voices[0]->sinceTrigger, voices[1]->sinceTrigger,
                                          voices[2]->sinceTrigger, voices[3]->sinceTrigger);
    const __m128 envRate = VZ_LANES(envRate);
    __m128 env = VZ_LANES(env);
    __m128 lfoPhase = VZ_LANES(lfoPhase);
    __m128 feedback = VZ_LANES(feedback);
    __m128 stage1 = VZ_LANES(stage1);
    __m128 stage2 = VZ_LANES(stage2);
    __m128 ringPhase = VZ_LANES(ringPhase);
    __m128 smoothed = _mm_load_ps(startCutoff);
#undef VZ_LANES
#undef VZ_PARAMS
    // The unused lane's sines are copies; they are not stored back.
    TrackedSine spareLfo = subBass.lfoSine_;
    TrackedSine spareRing = subBass.ringSine_;
    TrackedSineLanes lfoLow;
    TrackedSineLanes lfoHigh;
    TrackedSineLanes ringSineLow;
    TrackedSineLanes ringSineHigh;
    lfoLow.load(line1.lfoSine_, line2.lfoSine_);
    lfoHigh.load(subBass.lfoSine_, spareLfo);
    ringSineLow.load(line1.ringSine_, line2.ringSine_);
    ringSineHigh.load(subBass.ringSine_, spareRing);

    const __m128i noRelease = _mm_set1_epi32(-1);
    const __m128i releasing = _mm_xor_si128(_mm_cmpeq_epi32(releaseAt, noRelease), noRelease);

    // First the cutoff targets, which depend on nothing that the filter does: the LFO and the
    // envelope. Kept in `out` until the second loop replaces each with its sample; two shorter loops
    // keep their state in registers where one long one would not.
    // NaN passes through both clamps, as the voice's comparisons let it.
    const auto storeTarget = [&](int i, __m128d lfoLowSine, __m128d lfoHighSine) {
        const __m128 swing = toFloat(_mm_mul_pd(lfoLowSine, depthLow), _mm_mul_pd(lfoHighSine, depthHigh));
        const __m128 target = _mm_sub_ps(_mm_add_ps(swing, cutoff), env);
        _mm_store_ps(out + kLanes * i, _mm_min_ps(ceiling, _mm_max_ps(floor, target)));
    };
    for (int i = 0; i < frames;) {
        // While every lane rotates with its countdown far from its end, a sample needs only the
        // check that its phase step is unchanged and the rotation.
        const int end = std::min(frames, i + TrackedSineLanes::rotatingRun(lfoLow, lfoHigh));
        const int runStart = i;
        for (; i < end; ++i) {
            __m128 phase = _mm_add_ps(lfoPhase, lfoRate);
            phase = _mm_sub_ps(phase, _mm_and_ps(_mm_cmpgt_ps(phase, twoPi), twoPi));
            const __m128d low = lowToDouble(phase);
            const __m128d high = highToDouble(phase);
            const int same = _mm_movemask_pd(_mm_cmpeq_pd(_mm_sub_pd(low, lfoLow.phase), lfoLow.delta)) &
                             _mm_movemask_pd(_mm_cmpeq_pd(_mm_sub_pd(high, lfoHigh.phase), lfoHigh.delta));
            if (same != 3)
                break; // this sample takes the full route below
            lfoPhase = phase;
            env = _mm_add_ps(env, envRate);
            storeTarget(i, lfoLow.rotate(low), lfoHigh.rotate(high));
        }
        lfoLow.endRun(i - runStart);
        lfoHigh.endRun(i - runStart);
        if (i == frames)
            break;

        lfoPhase = _mm_add_ps(lfoPhase, lfoRate);
        lfoPhase = _mm_sub_ps(lfoPhase, _mm_and_ps(_mm_cmpgt_ps(lfoPhase, twoPi), twoPi));
        env = _mm_add_ps(env, envRate);
        storeTarget(i, lfoLow.next<false>(lowToDouble(lfoPhase), allLanes),
                    lfoHigh.next<false>(highToDouble(lfoPhase), allLanes));
        ++i;
    }

    for (int i = 0; i < frames; ++i) {
        osc1Phase = _mm_add_ps(osc1Phase, osc1Increment);
        osc1Phase = _mm_sub_ps(osc1Phase, _mm_and_ps(_mm_cmpge_ps(osc1Phase, one), one));
        osc2Phase = _mm_add_ps(osc2Phase, osc2Increment);
        osc2Phase = _mm_sub_ps(osc2Phase, _mm_and_ps(_mm_cmpge_ps(osc2Phase, one), one));
        __m128 o1 = _mm_sub_ps(osc1Phase, half);
        __m128 o2 = _mm_sub_ps(osc2Phase, half);
        if (anySquare) { // −0.5, its sign flipped below the middle of the cycle
            const __m128 sign = _mm_set1_ps(-0.0f);
            o1 = blend(square, _mm_xor_ps(minusHalf, _mm_and_ps(_mm_cmplt_ps(osc1Phase, half), sign)), o1);
            o2 = blend(square, _mm_xor_ps(minusHalf, _mm_and_ps(_mm_cmplt_ps(osc2Phase, half), sign)), o2);
        }

        sinceTrigger = _mm_sub_epi32(sinceTrigger, releasing);
        const __m128i released = _mm_and_si128(releasing, _mm_cmpgt_epi32(sinceTrigger, releaseAt));
        ampTarget = _mm_andnot_ps(_mm_castsi128_ps(released), ampTarget);

        // max(t, a) is "a, raised to t if below"; min(t, a) is "a, lowered to t if above". An amp
        // that is already on its target stays there either way.
        amp = blend(_mm_cmpge_ps(amp, ampTarget), _mm_max_ps(ampTarget, _mm_sub_ps(amp, ramp)),
                    _mm_min_ps(ampTarget, _mm_add_ps(amp, ramp)));

        const __m128 mix = _mm_add_ps(_mm_mul_ps(o1, level1), _mm_mul_ps(o2, level2));

        const __m128 target = _mm_load_ps(out + kLanes * i);
        // Closes by at most inertia and opens at once: with an inertia of 0 or more, the larger of the
        // target and the lowered cutoff is both.
        const __m128 closing = _mm_max_ps(target, _mm_sub_ps(smoothed, inertia));
        if (inertiaNonNegative)
            smoothed = closing;
        else
            smoothed = blend(_mm_cmplt_ps(target, smoothed), closing,
                             blend(_mm_cmpgt_ps(target, smoothed), target, smoothed));

        feedback = _mm_add_ps(resonance, _mm_div_ps(resonance, _mm_sub_ps(one, smoothed)));

        const __m128 keep = _mm_sub_ps(one, smoothed);
        const __m128 next1 =
            _mm_add_ps(_mm_add_ps(_mm_mul_ps(keep, stage1), _mm_mul_ps(smoothed, mix)),
                       _mm_mul_ps(_mm_mul_ps(smoothed, feedback), _mm_sub_ps(stage1, stage2)));
        const __m128 next2 = _mm_add_ps(_mm_mul_ps(keep, stage2), _mm_mul_ps(smoothed, next1));
        __m128 y = next2;
        if (anyHighPass)
            y = blend(highPass, _mm_sub_ps(mix, next2), next2);
        if (anyRing) {
            __m128 phase = _mm_add_ps(ringPhase, smoothed);
            phase = _mm_sub_ps(phase, _mm_and_ps(_mm_cmpgt_ps(phase, twoPi), twoPi));
            ringPhase = blend(ring, phase, ringPhase);
            const __m128 carrier = toFloat(ringSineLow.next<true>(lowToDouble(ringPhase), ringLow),
                                           ringSineHigh.next<true>(highToDouble(ringPhase), ringHigh));
            y = blend(ring, _mm_mul_ps(carrier, mix), y);
            stage1 = blend(ring, stage1, next1);
            stage2 = blend(ring, stage2, next2);
        } else {
            stage1 = next1;
            stage2 = next2;
        }

        y = _mm_mul_ps(y, amp);
        y = _mm_max_ps(negativeClip, _mm_min_ps(clip, y));
        _mm_store_ps(out + kLanes * i, _mm_mul_ps(_mm_mul_ps(y, makeUp), volume));
    }

    alignas(16) float v[kLanes];
    const auto back = [&](__m128 lanes, float SynthVoice::*field) {
        _mm_store_ps(v, lanes);
        for (int j = 0; j < 3; ++j)
            voices[j]->*field = v[j];
    };
    back(ampTarget, &SynthVoice::ampTarget);
    back(amp, &SynthVoice::amp);
    back(osc1Phase, &SynthVoice::osc1Phase);
    back(osc2Phase, &SynthVoice::osc2Phase);
    back(env, &SynthVoice::env);
    back(lfoPhase, &SynthVoice::lfoPhase);
    back(feedback, &SynthVoice::feedback);
    back(stage1, &SynthVoice::stage1);
    back(stage2, &SynthVoice::stage2);
    back(ringPhase, &SynthVoice::ringPhase);
    alignas(16) int since[kLanes];
    _mm_store_si128(reinterpret_cast<__m128i*>(since), sinceTrigger);
    for (int j = 0; j < 3; ++j)
        voices[j]->sinceTrigger = since[j];
    lfoLow.store(line1.lfoSine_, line2.lfoSine_);
    lfoHigh.store(subBass.lfoSine_, spareLfo);
    ringSineLow.store(line1.ringSine_, line2.ringSine_);
    ringSineHigh.store(subBass.ringSine_, spareRing);
    _mm_store_ps(v, smoothed);
    for (int j = 0; j < 3; ++j)
        // A generator's preset written meanwhile wins over the rendered value.
        if (voices[j]->cutoffNow.load(kRelaxed) == startCutoff[j])
            voices[j]->cutoffNow.store(v[j], kRelaxed);
}

} // namespace zintor
