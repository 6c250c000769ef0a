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
    Constants fixed;
    const auto perVoice = [&](auto get) { return _mm_setr_ps(get(0), get(1), get(2), get(2)); };
    fixed.ramp = perVoice([&](int i) { return ramps[i]; });
    // A ceiling below the minimum (or NaN) is raised to it, so that the make-up gain stays finite.
    const auto clipOf = [&](int i) {
        return params[i].driveCeiling >= kMinDriveCeiling ? params[i].driveCeiling : kMinDriveCeiling;
    };
    fixed.clip = perVoice(clipOf);
    fixed.makeUp = perVoice([&](int i) { return 1.0f / clipOf(i); });
    fixed.level1 = perVoice([&](int i) { return params[i].osc1Level; });
    fixed.level2 = perVoice([&](int i) { return params[i].osc2Level; });
    fixed.cutoff = perVoice([&](int i) { return params[i].cutoff; });
    fixed.resonance = perVoice([&](int i) { return params[i].resonance; });
    fixed.inertia = perVoice([&](int i) { return params[i].inertia; });
    fixed.volume = perVoice([&](int i) { return params[i].volume; });
    fixed.lfoRate = gather(voices, [](const SynthVoice& v) { return v.phrase.lfoRate; });
    fixed.depthLow = _mm_setr_pd(voices[0]->phrase.lfoDepth, voices[1]->phrase.lfoDepth);
    fixed.depthHigh = _mm_setr_pd(voices[2]->phrase.lfoDepth, voices[2]->phrase.lfoDepth);
    fixed.square = maskOf(voices[0]->phrase.square, voices[1]->phrase.square, voices[2]->phrase.square);
    fixed.highPass = maskOf(params[0].filterType == 1, params[1].filterType == 1, params[2].filterType == 1);
    fixed.ring = maskOf(params[0].filterType == 2, params[1].filterType == 2, params[2].filterType == 2);
    fixed.ringLowLanes = _mm_castps_pd(_mm_unpacklo_ps(fixed.ring, fixed.ring));
    fixed.ringHighLanes = _mm_castps_pd(_mm_unpackhi_ps(fixed.ring, fixed.ring));
    fixed.anySquare = _mm_movemask_ps(fixed.square) != 0;
    fixed.anyHighPass = _mm_movemask_ps(fixed.highPass) != 0;
    fixed.anyRing = _mm_movemask_ps(fixed.ring) != 0;
    fixed.inertiaNonNegative = _mm_movemask_ps(_mm_cmpge_ps(fixed.inertia, _mm_setzero_ps())) == 0xf;
    fixed.osc1Increment = gather(voices, [](const SynthVoice& v) { return v.state.osc1Increment; });
    fixed.osc2Increment = gather(voices, [](const SynthVoice& v) { return v.state.osc2Increment; });
    fixed.envRate = gather(voices, [](const SynthVoice& v) { return v.state.envRate; });
    const SynthVoice::State& sub = voices[2]->state;
    fixed.releaseAt =
        _mm_setr_epi32(voices[0]->state.releaseAt, voices[1]->state.releaseAt, sub.releaseAt, sub.releaseAt);
    const __m128i noRelease = _mm_set1_epi32(-1);
    fixed.releasing = _mm_xor_si128(_mm_cmpeq_epi32(fixed.releaseAt, noRelease), noRelease);

    return fixed;
}

void SynthLines::loadLanes(SynthVoice* const voices[kVoices], Lanes& lanes) {
    const SynthVoice::State& sub = voices[2]->state;
    lanes.ampTarget = gather(voices, [](const SynthVoice& v) { return v.state.ampTarget; });
    lanes.amp = gather(voices, [](const SynthVoice& v) { return v.state.amp; });
    lanes.osc1Phase = gather(voices, [](const SynthVoice& v) { return v.state.osc1Phase; });
    lanes.osc2Phase = gather(voices, [](const SynthVoice& v) { return v.state.osc2Phase; });
    lanes.env = gather(voices, [](const SynthVoice& v) { return v.state.env; });
    lanes.lfoPhase = gather(voices, [](const SynthVoice& v) { return v.state.lfoPhase; });
    lanes.cutoffNow = gather(voices, [](const SynthVoice& v) { return v.state.cutoffNow; });
    lanes.stage1 = gather(voices, [](const SynthVoice& v) { return v.state.stage1; });
    lanes.stage2 = gather(voices, [](const SynthVoice& v) { return v.state.stage2; });
    lanes.ringPhase = gather(voices, [](const SynthVoice& v) { return v.state.ringPhase; });
    lanes.sinceTrigger = _mm_setr_epi32(voices[0]->state.sinceTrigger, voices[1]->state.sinceTrigger,
                                        sub.sinceTrigger, sub.sinceTrigger);
    lanes.spareLfo = sub.lfoSine;
    lanes.spareRing = sub.ringSine;
    lanes.lfoLow.load(voices[0]->state.lfoSine, voices[1]->state.lfoSine);
    lanes.lfoHigh.load(voices[2]->state.lfoSine, lanes.spareLfo);
    lanes.ringLow.load(voices[0]->state.ringSine, voices[1]->state.ringSine);
    lanes.ringHigh.load(voices[2]->state.ringSine, lanes.spareRing);
}

void SynthLines::storeLanes(Lanes& lanes, SynthVoice* const voices[kVoices]) {
    scatter(voices, lanes.ampTarget, [](SynthVoice& v, float x) { v.state.ampTarget = x; });
    scatter(voices, lanes.amp, [](SynthVoice& v, float x) { v.state.amp = x; });
    scatter(voices, lanes.osc1Phase, [](SynthVoice& v, float x) { v.state.osc1Phase = x; });
    scatter(voices, lanes.osc2Phase, [](SynthVoice& v, float x) { v.state.osc2Phase = x; });
    scatter(voices, lanes.env, [](SynthVoice& v, float x) { v.state.env = x; });
    scatter(voices, lanes.lfoPhase, [](SynthVoice& v, float x) { v.state.lfoPhase = x; });
    scatter(voices, lanes.cutoffNow, [](SynthVoice& v, float x) { v.state.cutoffNow = x; });
    scatter(voices, lanes.stage1, [](SynthVoice& v, float x) { v.state.stage1 = x; });
    scatter(voices, lanes.stage2, [](SynthVoice& v, float x) { v.state.stage2 = x; });
    scatter(voices, lanes.ringPhase, [](SynthVoice& v, float x) { v.state.ringPhase = x; });
    alignas(16) int since[kLanes];
    _mm_store_si128(reinterpret_cast<__m128i*>(since), lanes.sinceTrigger);
    for (int i = 0; i < kVoices; ++i)
        voices[i]->state.sinceTrigger = since[i];
    lanes.lfoLow.store(voices[0]->state.lfoSine, voices[1]->state.lfoSine);
    lanes.lfoHigh.store(voices[2]->state.lfoSine, lanes.spareLfo);
    lanes.ringLow.store(voices[0]->state.ringSine, voices[1]->state.ringSine);
    lanes.ringHigh.store(voices[2]->state.ringSine, lanes.spareRing);
}

// The cutoff targets, which depend on nothing that the filter does: the LFO and the envelope, clamped.
// NaN passes through both clamps, as the voice's comparisons let it.
void SynthLines::renderTargets(Lanes& lanes, const Constants& fixed, int frames) {
    const __m128 twoPi = _mm_set1_ps(SynthVoice::kTwoPi);
    const __m128 floor = _mm_set1_ps(kCutoffFloor);
    const __m128 ceiling = _mm_set1_ps(kCutoffCeiling);
    const __m128d allLanes = _mm_castsi128_pd(_mm_set1_epi64x(-1));
    const auto storeTarget = [&](int i, __m128d lfoLowSine, __m128d lfoHighSine) {
        const __m128 swing =
            toFloat(_mm_mul_pd(lfoLowSine, fixed.depthLow), _mm_mul_pd(lfoHighSine, fixed.depthHigh));
        const __m128 target = _mm_sub_ps(_mm_add_ps(swing, fixed.cutoff), lanes.env);
        _mm_store_ps(targets_ + kLanes * i, _mm_min_ps(ceiling, _mm_max_ps(floor, target)));
    };
    for (int i = 0; i < frames;) {
        // While every lane rotates with its countdown far from its end, a sample needs only the check
        // that its phase step is unchanged and the rotation.
        const int end = std::min(frames, i + TrackedSineLanes::rotatingRun(lanes.lfoLow, lanes.lfoHigh));
        const int runStart = i;
        for (; i < end; ++i) {
            __m128 phase = _mm_add_ps(lanes.lfoPhase, fixed.lfoRate);
            phase = _mm_sub_ps(phase, _mm_and_ps(_mm_cmpgt_ps(phase, twoPi), twoPi));
            const __m128d low = lowToDouble(phase);
            const __m128d high = highToDouble(phase);
            const int same =
                _mm_movemask_pd(_mm_cmpeq_pd(_mm_sub_pd(low, lanes.lfoLow.phase), lanes.lfoLow.delta)) &
                _mm_movemask_pd(_mm_cmpeq_pd(_mm_sub_pd(high, lanes.lfoHigh.phase), lanes.lfoHigh.delta));
            if (same != 3)
                break; // this sample takes the full route below
            lanes.lfoPhase = phase;
            lanes.env = _mm_add_ps(lanes.env, fixed.envRate);
            storeTarget(i, lanes.lfoLow.rotate(low), lanes.lfoHigh.rotate(high));
        }
        lanes.lfoLow.endRun(i - runStart);
        lanes.lfoHigh.endRun(i - runStart);
        if (i == frames)
            break;

        lanes.lfoPhase = _mm_add_ps(lanes.lfoPhase, fixed.lfoRate);
        lanes.lfoPhase = _mm_sub_ps(lanes.lfoPhase, _mm_and_ps(_mm_cmpgt_ps(lanes.lfoPhase, twoPi), twoPi));
        lanes.env = _mm_add_ps(lanes.env, fixed.envRate);
        storeTarget(i, lanes.lfoLow.next<false>(lowToDouble(lanes.lfoPhase), allLanes),
                    lanes.lfoHigh.next<false>(highToDouble(lanes.lfoPhase), allLanes));
        ++i;
    }
}

// Oscillators, gate, amplitude, cutoff smoothing, filter or ring modulator, overdrive and volume.
void SynthLines::renderSamples(Lanes& lanes, const Constants& fixed, int frames) {
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 minusHalf = _mm_set1_ps(-0.5f);
    const __m128 twoPi = _mm_set1_ps(SynthVoice::kTwoPi);
    const __m128 negativeClip = _mm_sub_ps(_mm_setzero_ps(), fixed.clip);
    for (int i = 0; i < frames; ++i) {
        lanes.osc1Phase = _mm_add_ps(lanes.osc1Phase, fixed.osc1Increment);
        lanes.osc1Phase = _mm_sub_ps(lanes.osc1Phase, _mm_and_ps(_mm_cmpge_ps(lanes.osc1Phase, one), one));
        lanes.osc2Phase = _mm_add_ps(lanes.osc2Phase, fixed.osc2Increment);
        lanes.osc2Phase = _mm_sub_ps(lanes.osc2Phase, _mm_and_ps(_mm_cmpge_ps(lanes.osc2Phase, one), one));
        __m128 wave1 = _mm_sub_ps(lanes.osc1Phase, half);
        __m128 wave2 = _mm_sub_ps(lanes.osc2Phase, half);
        if (fixed.anySquare) { // −0.5, its sign flipped below the middle of the cycle
            const __m128 sign = _mm_set1_ps(-0.0f);
            wave1 =
                blend(fixed.square,
                      _mm_xor_ps(minusHalf, _mm_and_ps(_mm_cmplt_ps(lanes.osc1Phase, half), sign)), wave1);
            wave2 =
                blend(fixed.square,
                      _mm_xor_ps(minusHalf, _mm_and_ps(_mm_cmplt_ps(lanes.osc2Phase, half), sign)), wave2);
        }

        lanes.sinceTrigger = _mm_sub_epi32(lanes.sinceTrigger, fixed.releasing);
        const __m128i released =
            _mm_and_si128(fixed.releasing, _mm_cmpgt_epi32(lanes.sinceTrigger, fixed.releaseAt));
        lanes.ampTarget = _mm_andnot_ps(_mm_castsi128_ps(released), lanes.ampTarget);
        // max(t, a) is "a, raised to t if below"; min(t, a) is "a, lowered to t if above". An amp that is
        // already on its target stays there either way.
        lanes.amp = blend(_mm_cmpge_ps(lanes.amp, lanes.ampTarget),
                          _mm_max_ps(lanes.ampTarget, _mm_sub_ps(lanes.amp, fixed.ramp)),
                          _mm_min_ps(lanes.ampTarget, _mm_add_ps(lanes.amp, fixed.ramp)));
        const __m128 mix = _mm_add_ps(_mm_mul_ps(wave1, fixed.level1), _mm_mul_ps(wave2, fixed.level2));

        // Opens at once, closes by at most `inertia`: with an inertia of 0 or more, the larger of the
        // target and the lowered cutoff is both.
        const __m128 target = _mm_load_ps(targets_ + kLanes * i);
        const __m128 closing = _mm_max_ps(target, _mm_sub_ps(lanes.cutoffNow, fixed.inertia));
        if (fixed.inertiaNonNegative)
            lanes.cutoffNow = closing;
        else
            lanes.cutoffNow = blend(_mm_cmplt_ps(target, lanes.cutoffNow), closing,
                                    blend(_mm_cmpgt_ps(target, lanes.cutoffNow), target, lanes.cutoffNow));
        const __m128 f = lanes.cutoffNow;

        // stage1 += f((m − stage1) + feedback(stage1 − stage2)); stage2 += f(stage1 − stage2), expanded so
        // that the terms that do not depend on the stages are formed off the sample-to-sample chain.
        const __m128 feedback = _mm_add_ps(fixed.resonance, _mm_div_ps(fixed.resonance, _mm_sub_ps(one, f)));
        const __m128 keep = _mm_sub_ps(one, f);
        const __m128 next1 =
            _mm_add_ps(_mm_add_ps(_mm_mul_ps(keep, lanes.stage1), _mm_mul_ps(f, mix)),
                       _mm_mul_ps(_mm_mul_ps(f, feedback), _mm_sub_ps(lanes.stage1, lanes.stage2)));
        const __m128 next2 = _mm_add_ps(_mm_mul_ps(keep, lanes.stage2), _mm_mul_ps(f, next1));
        __m128 y = next2;
        if (fixed.anyHighPass)
            y = blend(fixed.highPass, _mm_sub_ps(mix, next2), next2);
        if (fixed.anyRing) { // the ring lanes keep their filter stages as they were
            __m128 phase = _mm_add_ps(lanes.ringPhase, f);
            phase = _mm_sub_ps(phase, _mm_and_ps(_mm_cmpgt_ps(phase, twoPi), twoPi));
            lanes.ringPhase = blend(fixed.ring, phase, lanes.ringPhase);
            const __m128 carrier =
                toFloat(lanes.ringLow.next<true>(lowToDouble(lanes.ringPhase), fixed.ringLowLanes),
                        lanes.ringHigh.next<true>(highToDouble(lanes.ringPhase), fixed.ringHighLanes));
            y = blend(fixed.ring, _mm_mul_ps(carrier, mix), y);
            lanes.stage1 = blend(fixed.ring, lanes.stage1, next1);
            lanes.stage2 = blend(fixed.ring, lanes.stage2, next2);
        } else {
            lanes.stage1 = next1;
            lanes.stage2 = next2;
        }

        y = _mm_mul_ps(y, lanes.amp);
        y = _mm_max_ps(negativeClip, _mm_min_ps(fixed.clip, y));
        _mm_store_ps(samples_ + kLanes * i, _mm_mul_ps(_mm_mul_ps(y, fixed.makeUp), fixed.volume));
    }
}

} // namespace zintor
