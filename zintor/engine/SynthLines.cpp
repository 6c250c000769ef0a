// The three synth voices side by side: each sample is one pass of SSE operations over four lanes, so that
// the voices' filter and cutoff dependency chains overlap instead of running one after another.
#include "zintor/engine/SynthLines.h"

#include "zintor/engine/SineLanes.h"

#include <algorithm>

namespace zintor {

namespace {

constexpr float kCutoffFloor = 0.01f;
constexpr float kCutoffCeiling = 0.98f;    // keeps 1 − cutoffNow away from 0 in the resonance feedback
constexpr float kMinDriveCeiling = 0.001f; // nothing musical lies below; 0 would divide by zero

[[gnu::always_inline]] inline __m128 blend(__m128 mask, __m128 a, __m128 b) {
    return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}

[[gnu::always_inline]] inline __m128 maskOf(bool a, bool b, bool c) {
    return _mm_castsi128_ps(_mm_setr_epi32(a ? -1 : 0, b ? -1 : 0, c ? -1 : 0, c ? -1 : 0));
}

/// Lanes 0, 1 and lanes 2, 3 of a float vector as doubles, and back.
[[gnu::always_inline]] inline __m128d lowToDouble(__m128 v) {
    return _mm_cvtps_pd(v);
}
[[gnu::always_inline]] inline __m128d highToDouble(__m128 v) {
    return _mm_cvtps_pd(_mm_movehl_ps(v, v));
}
[[gnu::always_inline]] inline __m128 toFloat(__m128d low, __m128d high) {
    return _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));
}

/// A float of each voice in lanes 0..2, the sub bass's again in lane 3.
template <class Get> __m128 gather(SynthVoice* const voices[3], Get get) {
    return _mm_setr_ps(get(*voices[0]), get(*voices[1]), get(*voices[2]), get(*voices[2]));
}

template <class Set> void scatter(SynthVoice* const voices[3], __m128 lanes, Set set) {
    alignas(16) float values[4];
    _mm_store_ps(values, lanes);
    for (int i = 0; i < 3; ++i)
        set(*voices[i], values[i]);
}

} // namespace

/// What a sample changes, one voice per lane.
struct SynthLines::Lanes {
    __m128 ampTarget, amp, osc1Phase, osc2Phase, env, lfoPhase, cutoffNow, stage1, stage2, ringPhase;
    __m128i sinceTrigger;
    TrackedSineLanes lfoLow, lfoHigh, ringLow, ringHigh; // lanes 0, 1 and 2, 3
    TrackedSine spareLfo, spareRing;                     // lane 3's copies, never stored back
};

/// What stays the same for the whole render, one voice per lane.
struct SynthLines::Constants {
    __m128 ramp, square, level1, level2, lfoRate, cutoff, resonance, inertia, clip, makeUp, volume;
    __m128 osc1Increment, osc2Increment, envRate, highPass, ring;
    __m128i releaseAt, releasing;
    __m128d depthLow, depthHigh, ringLowLanes, ringHighLanes;
    bool anySquare, anyHighPass, anyRing, inertiaNonNegative;
};

void SynthLines::render(SynthVoice* const voices[kVoices], const VoiceParams params[kVoices],
                        const float ramps[kVoices], int frames) {
    const Constants constants = makeConstants(voices, params, ramps);
    Lanes lanes;
    loadLanes(voices, lanes);
    // Two shorter loops keep their state in registers where one long one would not.
    renderTargets(lanes, constants, frames);
    renderSamples(lanes, constants, frames);
    storeLanes(lanes, voices);
}

SynthLines::Constants SynthLines::makeConstants(SynthVoice* const voices[kVoices],
                                                const VoiceParams params[kVoices],
                                                const float ramps[kVoices]) {
    Constants c;
    const auto perVoice = [&](auto get) { return _mm_setr_ps(get(0), get(1), get(2), get(2)); };
    c.ramp = perVoice([&](int i) { return ramps[i]; });
    // A ceiling below the minimum (or NaN) is raised to it, so that the make-up gain stays finite.
    const auto clipOf = [&](int i) {
        return params[i].driveCeiling >= kMinDriveCeiling ? params[i].driveCeiling : kMinDriveCeiling;
    };
    c.clip = perVoice(clipOf);
    c.makeUp = perVoice([&](int i) { return 1.0f / clipOf(i); });
    c.level1 = perVoice([&](int i) { return params[i].osc1Level; });
    c.level2 = perVoice([&](int i) { return params[i].osc2Level; });
    c.cutoff = perVoice([&](int i) { return params[i].cutoff; });
    c.resonance = perVoice([&](int i) { return params[i].resonance; });
    c.inertia = perVoice([&](int i) { return params[i].inertia; });
    c.volume = perVoice([&](int i) { return params[i].volume; });
    c.lfoRate = gather(voices, [](const SynthVoice& v) { return v.phrase.lfoRate; });
    c.depthLow = _mm_setr_pd(voices[0]->phrase.lfoDepth, voices[1]->phrase.lfoDepth);
    c.depthHigh = _mm_setr_pd(voices[2]->phrase.lfoDepth, voices[2]->phrase.lfoDepth);
    c.square = maskOf(voices[0]->phrase.square, voices[1]->phrase.square, voices[2]->phrase.square);
    c.highPass = maskOf(params[0].filterType == 1, params[1].filterType == 1, params[2].filterType == 1);
    c.ring = maskOf(params[0].filterType == 2, params[1].filterType == 2, params[2].filterType == 2);
    c.ringLowLanes = _mm_castps_pd(_mm_unpacklo_ps(c.ring, c.ring));
    c.ringHighLanes = _mm_castps_pd(_mm_unpackhi_ps(c.ring, c.ring));
    c.anySquare = _mm_movemask_ps(c.square) != 0;
    c.anyHighPass = _mm_movemask_ps(c.highPass) != 0;
    c.anyRing = _mm_movemask_ps(c.ring) != 0;
    c.inertiaNonNegative = _mm_movemask_ps(_mm_cmpge_ps(c.inertia, _mm_setzero_ps())) == 0xf;
    c.osc1Increment = gather(voices, [](const SynthVoice& v) { return v.state.osc1Increment; });
    c.osc2Increment = gather(voices, [](const SynthVoice& v) { return v.state.osc2Increment; });
    c.envRate = gather(voices, [](const SynthVoice& v) { return v.state.envRate; });
    const SynthVoice::State& sub = voices[2]->state;
    c.releaseAt =
        _mm_setr_epi32(voices[0]->state.releaseAt, voices[1]->state.releaseAt, sub.releaseAt, sub.releaseAt);
    const __m128i noRelease = _mm_set1_epi32(-1);
    c.releasing = _mm_xor_si128(_mm_cmpeq_epi32(c.releaseAt, noRelease), noRelease);

    return c;
}

void SynthLines::loadLanes(SynthVoice* const voices[kVoices], Lanes& s) {
    const SynthVoice::State& sub = voices[2]->state;
    s.ampTarget = gather(voices, [](const SynthVoice& v) { return v.state.ampTarget; });
    s.amp = gather(voices, [](const SynthVoice& v) { return v.state.amp; });
    s.osc1Phase = gather(voices, [](const SynthVoice& v) { return v.state.osc1Phase; });
    s.osc2Phase = gather(voices, [](const SynthVoice& v) { return v.state.osc2Phase; });
    s.env = gather(voices, [](const SynthVoice& v) { return v.state.env; });
    s.lfoPhase = gather(voices, [](const SynthVoice& v) { return v.state.lfoPhase; });
    s.cutoffNow = gather(voices, [](const SynthVoice& v) { return v.state.cutoffNow; });
    s.stage1 = gather(voices, [](const SynthVoice& v) { return v.state.stage1; });
    s.stage2 = gather(voices, [](const SynthVoice& v) { return v.state.stage2; });
    s.ringPhase = gather(voices, [](const SynthVoice& v) { return v.state.ringPhase; });
    s.sinceTrigger = _mm_setr_epi32(voices[0]->state.sinceTrigger, voices[1]->state.sinceTrigger,
                                    sub.sinceTrigger, sub.sinceTrigger);
    s.spareLfo = sub.lfoSine;
    s.spareRing = sub.ringSine;
    s.lfoLow.load(voices[0]->state.lfoSine, voices[1]->state.lfoSine);
    s.lfoHigh.load(voices[2]->state.lfoSine, s.spareLfo);
    s.ringLow.load(voices[0]->state.ringSine, voices[1]->state.ringSine);
    s.ringHigh.load(voices[2]->state.ringSine, s.spareRing);
}

void SynthLines::storeLanes(Lanes& s, SynthVoice* const voices[kVoices]) {
    scatter(voices, s.ampTarget, [](SynthVoice& v, float x) { v.state.ampTarget = x; });
    scatter(voices, s.amp, [](SynthVoice& v, float x) { v.state.amp = x; });
    scatter(voices, s.osc1Phase, [](SynthVoice& v, float x) { v.state.osc1Phase = x; });
    scatter(voices, s.osc2Phase, [](SynthVoice& v, float x) { v.state.osc2Phase = x; });
    scatter(voices, s.env, [](SynthVoice& v, float x) { v.state.env = x; });
    scatter(voices, s.lfoPhase, [](SynthVoice& v, float x) { v.state.lfoPhase = x; });
    scatter(voices, s.cutoffNow, [](SynthVoice& v, float x) { v.state.cutoffNow = x; });
    scatter(voices, s.stage1, [](SynthVoice& v, float x) { v.state.stage1 = x; });
    scatter(voices, s.stage2, [](SynthVoice& v, float x) { v.state.stage2 = x; });
    scatter(voices, s.ringPhase, [](SynthVoice& v, float x) { v.state.ringPhase = x; });
    alignas(16) int since[kLanes];
    _mm_store_si128(reinterpret_cast<__m128i*>(since), s.sinceTrigger);
    for (int i = 0; i < kVoices; ++i)
        voices[i]->state.sinceTrigger = since[i];
    s.lfoLow.store(voices[0]->state.lfoSine, voices[1]->state.lfoSine);
    s.lfoHigh.store(voices[2]->state.lfoSine, s.spareLfo);
    s.ringLow.store(voices[0]->state.ringSine, voices[1]->state.ringSine);
    s.ringHigh.store(voices[2]->state.ringSine, s.spareRing);
}

// The cutoff targets, which depend on nothing that the filter does: the LFO and the envelope, clamped.
// NaN passes through both clamps, as the voice's comparisons let it.
void SynthLines::renderTargets(Lanes& s, const Constants& c, int frames) {
    const __m128 twoPi = _mm_set1_ps(SynthVoice::kTwoPi);
    const __m128 floor = _mm_set1_ps(kCutoffFloor);
    const __m128 ceiling = _mm_set1_ps(kCutoffCeiling);
    const __m128d allLanes = _mm_castsi128_pd(_mm_set1_epi64x(-1));
    const auto storeTarget = [&](int i, __m128d lfoLowSine, __m128d lfoHighSine) {
        const __m128 swing =
            toFloat(_mm_mul_pd(lfoLowSine, c.depthLow), _mm_mul_pd(lfoHighSine, c.depthHigh));
        const __m128 target = _mm_sub_ps(_mm_add_ps(swing, c.cutoff), s.env);
        _mm_store_ps(targets_ + kLanes * i, _mm_min_ps(ceiling, _mm_max_ps(floor, target)));
    };
    for (int i = 0; i < frames;) {
        // While every lane rotates with its countdown far from its end, a sample needs only the check
        // that its phase step is unchanged and the rotation.
        const int end = std::min(frames, i + TrackedSineLanes::rotatingRun(s.lfoLow, s.lfoHigh));
        const int runStart = i;
        for (; i < end; ++i) {
            __m128 phase = _mm_add_ps(s.lfoPhase, c.lfoRate);
            phase = _mm_sub_ps(phase, _mm_and_ps(_mm_cmpgt_ps(phase, twoPi), twoPi));
            const __m128d low = lowToDouble(phase);
            const __m128d high = highToDouble(phase);
            const int same =
                _mm_movemask_pd(_mm_cmpeq_pd(_mm_sub_pd(low, s.lfoLow.phase), s.lfoLow.delta)) &
                _mm_movemask_pd(_mm_cmpeq_pd(_mm_sub_pd(high, s.lfoHigh.phase), s.lfoHigh.delta));
            if (same != 3)
                break; // this sample takes the full route below
            s.lfoPhase = phase;
            s.env = _mm_add_ps(s.env, c.envRate);
            storeTarget(i, s.lfoLow.rotate(low), s.lfoHigh.rotate(high));
        }
        s.lfoLow.endRun(i - runStart);
        s.lfoHigh.endRun(i - runStart);
        if (i == frames)
            break;

        s.lfoPhase = _mm_add_ps(s.lfoPhase, c.lfoRate);
        s.lfoPhase = _mm_sub_ps(s.lfoPhase, _mm_and_ps(_mm_cmpgt_ps(s.lfoPhase, twoPi), twoPi));
        s.env = _mm_add_ps(s.env, c.envRate);
        storeTarget(i, s.lfoLow.next<false>(lowToDouble(s.lfoPhase), allLanes),
                    s.lfoHigh.next<false>(highToDouble(s.lfoPhase), allLanes));
        ++i;
    }
}

// Oscillators, gate, amplitude, cutoff smoothing, filter or ring modulator, overdrive and volume.
void SynthLines::renderSamples(Lanes& s, const Constants& c, int frames) {
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 minusHalf = _mm_set1_ps(-0.5f);
    const __m128 twoPi = _mm_set1_ps(SynthVoice::kTwoPi);
    const __m128 negativeClip = _mm_sub_ps(_mm_setzero_ps(), c.clip);
    for (int i = 0; i < frames; ++i) {
        s.osc1Phase = _mm_add_ps(s.osc1Phase, c.osc1Increment);
        s.osc1Phase = _mm_sub_ps(s.osc1Phase, _mm_and_ps(_mm_cmpge_ps(s.osc1Phase, one), one));
        s.osc2Phase = _mm_add_ps(s.osc2Phase, c.osc2Increment);
        s.osc2Phase = _mm_sub_ps(s.osc2Phase, _mm_and_ps(_mm_cmpge_ps(s.osc2Phase, one), one));
        __m128 wave1 = _mm_sub_ps(s.osc1Phase, half);
        __m128 wave2 = _mm_sub_ps(s.osc2Phase, half);
        if (c.anySquare) { // −0.5, its sign flipped below the middle of the cycle
            const __m128 sign = _mm_set1_ps(-0.0f);
            wave1 = blend(c.square, _mm_xor_ps(minusHalf, _mm_and_ps(_mm_cmplt_ps(s.osc1Phase, half), sign)),
                          wave1);
            wave2 = blend(c.square, _mm_xor_ps(minusHalf, _mm_and_ps(_mm_cmplt_ps(s.osc2Phase, half), sign)),
                          wave2);
        }

        s.sinceTrigger = _mm_sub_epi32(s.sinceTrigger, c.releasing);
        const __m128i released = _mm_and_si128(c.releasing, _mm_cmpgt_epi32(s.sinceTrigger, c.releaseAt));
        s.ampTarget = _mm_andnot_ps(_mm_castsi128_ps(released), s.ampTarget);
        // max(t, a) is "a, raised to t if below"; min(t, a) is "a, lowered to t if above". An amp that is
        // already on its target stays there either way.
        s.amp = blend(_mm_cmpge_ps(s.amp, s.ampTarget), _mm_max_ps(s.ampTarget, _mm_sub_ps(s.amp, c.ramp)),
                      _mm_min_ps(s.ampTarget, _mm_add_ps(s.amp, c.ramp)));
        const __m128 mix = _mm_add_ps(_mm_mul_ps(wave1, c.level1), _mm_mul_ps(wave2, c.level2));

        // Opens at once, closes by at most `inertia`: with an inertia of 0 or more, the larger of the
        // target and the lowered cutoff is both.
        const __m128 target = _mm_load_ps(targets_ + kLanes * i);
        const __m128 closing = _mm_max_ps(target, _mm_sub_ps(s.cutoffNow, c.inertia));
        if (c.inertiaNonNegative)
            s.cutoffNow = closing;
        else
            s.cutoffNow = blend(_mm_cmplt_ps(target, s.cutoffNow), closing,
                                blend(_mm_cmpgt_ps(target, s.cutoffNow), target, s.cutoffNow));
        const __m128 f = s.cutoffNow;

        // stage1 += f((m − stage1) + feedback(stage1 − stage2)); stage2 += f(stage1 − stage2), expanded so
        // that the terms that do not depend on the stages are formed off the sample-to-sample chain.
        const __m128 feedback = _mm_add_ps(c.resonance, _mm_div_ps(c.resonance, _mm_sub_ps(one, f)));
        const __m128 keep = _mm_sub_ps(one, f);
        const __m128 next1 = _mm_add_ps(_mm_add_ps(_mm_mul_ps(keep, s.stage1), _mm_mul_ps(f, mix)),
                                        _mm_mul_ps(_mm_mul_ps(f, feedback), _mm_sub_ps(s.stage1, s.stage2)));
        const __m128 next2 = _mm_add_ps(_mm_mul_ps(keep, s.stage2), _mm_mul_ps(f, next1));
        __m128 y = next2;
        if (c.anyHighPass)
            y = blend(c.highPass, _mm_sub_ps(mix, next2), next2);
        if (c.anyRing) { // the ring lanes keep their filter stages as they were
            __m128 phase = _mm_add_ps(s.ringPhase, f);
            phase = _mm_sub_ps(phase, _mm_and_ps(_mm_cmpgt_ps(phase, twoPi), twoPi));
            s.ringPhase = blend(c.ring, phase, s.ringPhase);
            const __m128 carrier = toFloat(s.ringLow.next<true>(lowToDouble(s.ringPhase), c.ringLowLanes),
                                           s.ringHigh.next<true>(highToDouble(s.ringPhase), c.ringHighLanes));
            y = blend(c.ring, _mm_mul_ps(carrier, mix), y);
            s.stage1 = blend(c.ring, s.stage1, next1);
            s.stage2 = blend(c.ring, s.stage2, next2);
        } else {
            s.stage1 = next1;
            s.stage2 = next2;
        }

        y = _mm_mul_ps(y, s.amp);
        y = _mm_max_ps(negativeClip, _mm_min_ps(c.clip, y));
        _mm_store_ps(samples_ + kLanes * i, _mm_mul_ps(_mm_mul_ps(y, c.makeUp), c.volume));
    }
}

} // namespace zintor
