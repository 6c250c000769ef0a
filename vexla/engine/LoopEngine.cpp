// The loop engine's frame: step clock, mix bus, clip stage, 16-bit conversion and recorder tap.
#include "vexla/engine/LoopEngine.h"

#include "common/WavRecorder.h"
#include "vexla/engine/FastSine.h"
#include "vexla/engine/Scene.h"
#include "vexla/engine/VcfFilterLanes.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexla {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;

float clampTo(float v, float level) {
    if (v > level)
        return level;
    if (v < -level)
        return -level;
    return v;
}
} // namespace

std::int16_t clipAndConvert(float v, bool& clipped) {
    if (v > kClipLevel) {
        v = kClipLevel;
        clipped = true;
    } else if (!(v >= -kClipLevel)) { // also catches NaN
        v = -kClipLevel;
        clipped = true;
    }
    // Adding 1.5 × 2^52 leaves the integer part of the sum in the low bits of the double, rounded to
    // nearest with ties to even: this is round-half-even of v − 0.5, i.e. floor(v) for fractions.
    const double shifted = static_cast<double>(v) - 0.5 + 6755399441055744.0;
    return static_cast<std::int16_t>(static_cast<std::int32_t>(std::bit_cast<std::uint64_t>(shifted)));
}

// clipAndConvert over a run, four frames at a time: the same clamp, the same double v − 0.5 and the
// same round-half-even (the conversion follows the default rounding mode, as the addition above does).
bool clipAndConvertRun(const float* left, const float* right, OutputFrame* out, int n) {
    static_assert(sizeof(OutputFrame) == 4 && offsetof(OutputFrame, right) == 2);
    bool clipped = false;
    int i = 0;
#if defined(__SSE2__)
    const __m128 high = _mm_set1_ps(kClipLevel);
    const __m128 low = _mm_set1_ps(-kClipLevel);
    const __m128d half = _mm_set1_pd(0.5);
    __m128 anyClipped = _mm_setzero_ps();
    const auto convert = [&](__m128 v) {
        const __m128 over = _mm_cmpgt_ps(v, high);
        const __m128 under = _mm_cmpnge_ps(v, low); // also true for NaN
        anyClipped = _mm_or_ps(anyClipped, _mm_or_ps(over, under));
        v = _mm_or_ps(_mm_andnot_ps(over, v), _mm_and_ps(over, high));
        v = _mm_or_ps(_mm_andnot_ps(under, v), _mm_and_ps(under, low));
        const __m128i lo = _mm_cvtpd_epi32(_mm_sub_pd(_mm_cvtps_pd(v), half));
        const __m128i hi = _mm_cvtpd_epi32(_mm_sub_pd(_mm_cvtps_pd(_mm_movehl_ps(v, v)), half));
        return _mm_unpacklo_epi64(lo, hi); // |values| ≤ 32767: packing to 16 bits never saturates
    };
    for (; i + 4 <= n; i += 4) {
        const __m128i l32 = convert(_mm_loadu_ps(left + i));
        const __m128i r32 = convert(_mm_loadu_ps(right + i));
        const __m128i frames = _mm_unpacklo_epi16(_mm_packs_epi32(l32, l32), _mm_packs_epi32(r32, r32));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), frames);
    }
    clipped = _mm_movemask_ps(anyClipped) != 0;
#endif
    for (; i < n; ++i) {
        out[i].left = clipAndConvert(left[i], clipped);
        out[i].right = clipAndConvert(right[i], clipped);
    }
    return clipped;
}

namespace {
// Eight doubles at a time where the processor has AVX-512, four with AVX2, two elsewhere; the same
// values either way (no fused multiply-add), chosen once at load time. Not under the thread sanitizer:
// the load-time chooser runs before its runtime starts, and its instrumentation crashes the program at load.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_THREAD__)
#define VEXLA_WIDE_CLONES [[gnu::target_clones("avx512f", "avx2", "default")]]
#else
#define VEXLA_WIDE_CLONES
#endif
VEXLA_WIDE_CLONES void sinesInPlace(float* angles, int n) {
    for (int i = 0; i < n; ++i)
        angles[i] = fastSin(angles[i]);
}
} // namespace

LoopEngine::LoopEngine() = default;

void LoopEngine::renderBlock(void* buffer, int lengthBytes) {
    std::lock_guard<std::mutex> lock(engineLock);
    if (lengthBytes < 4)
        return;
    int frames = lengthBytes / 4;
    auto* out = static_cast<unsigned char*>(buffer);
    OutputFrame run[kRunFrames];
    while (frames > 0) {
        const int n = renderRun(run, frames < kRunFrames ? frames : kRunFrames);
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(out, run, static_cast<std::size_t>(n) * sizeof(OutputFrame));
            out += 4 * n;
        } else {
            for (int i = 0; i < n; ++i) {
                const auto left = static_cast<std::uint16_t>(run[i].left);
                const auto right = static_cast<std::uint16_t>(run[i].right);
                out[0] = static_cast<unsigned char>(left & 0xffu); // little-endian whatever the host
                out[1] = static_cast<unsigned char>(left >> 8);
                out[2] = static_cast<unsigned char>(right & 0xffu);
                out[3] = static_cast<unsigned char>(right >> 8);
                out += 4;
            }
        }
        frames -= n;
    }
}

OutputFrame LoopEngine::renderFrame() {
    OutputFrame out;
    renderRun(&out, 1);
    return out;
}

int LoopEngine::renderRun(OutputFrame* out, int maxFrames) {
    int n = maxFrames;
    if (!params.running.load(kRelaxed)) {
        takePostedScene(); // a stopped clock has no boundary to wait for
        for (int i = 0; i < n; ++i)
            out[i] = OutputFrame{};
    } else {
        if (sampleInStep_ == 0)
            triggerStep();
        // The run ends with the step: the counter goes on to samplesPerStep and reads 0 on the step's
        // last frame. samplesPerStep may have been lowered below the counter: then this frame ends the step.
        const int samplesPerStep = params.samplesPerStep.load(kRelaxed);
        const int firstCounter = sampleInStep_ + 1;
        const int framesLeftInStep = sampleInStep_ <= samplesPerStep ? samplesPerStep - sampleInStep_ + 1 : 1;
        if (n > framesLeftInStep)
            n = framesLeftInStep;
        sampleInStep_ += n;
        if (sampleInStep_ > samplesPerStep)
            sampleInStep_ = 0;
        mixRun(out, n, firstCounter, samplesPerStep);
    }
    // Peak hold for the meters: magnitudes, since the voices reach the right channel inverted. Each frame
    // the peak falls by one and rises to the frame's magnitude, so after the run it is the largest of
    // (magnitude − frames since) over the run and the old peak less n, never below 0.
    std::int32_t runPeakLeft = peakLeft_ - n;
    std::int32_t runPeakRight = peakRight_ - n;
    int i = 0;
#if defined(__SSE2__)
    // Four frames at a time in 16 bits: the clip stage keeps every value within ±32766, so each magnitude
    // and each magnitude less its age (at most 63) fits.
    if (n >= 4) {
        __m128i best = _mm_set1_epi16(-32768);
        __m128i age = _mm_setr_epi16(static_cast<short>(n - 1), static_cast<short>(n - 1), static_cast<short>(n - 2),
                                     static_cast<short>(n - 2), static_cast<short>(n - 3), static_cast<short>(n - 3),
                                     static_cast<short>(n - 4), static_cast<short>(n - 4));
        const __m128i four = _mm_set1_epi16(4);
        for (; i + 4 <= n; i += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + i)); // left, right, left, …
            const __m128i magnitude = _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
            best = _mm_max_epi16(best, _mm_sub_epi16(magnitude, age));
            age = _mm_sub_epi16(age, four);
        }
        best = _mm_max_epi16(best, _mm_shuffle_epi32(best, _MM_SHUFFLE(1, 0, 3, 2)));
        best = _mm_max_epi16(best, _mm_shuffle_epi32(best, _MM_SHUFFLE(2, 3, 0, 1)));
        const std::int32_t both = _mm_cvtsi128_si32(best);
        runPeakLeft = std::max<std::int32_t>(runPeakLeft, static_cast<std::int16_t>(both & 0xffff));
        runPeakRight = std::max<std::int32_t>(runPeakRight, static_cast<std::int16_t>(both >> 16));
    }
#endif
    for (; i < n; ++i) {
        const std::int32_t age = n - 1 - i;
        runPeakLeft = std::max(runPeakLeft, std::abs(static_cast<std::int32_t>(out[i].left)) - age);
        runPeakRight = std::max(runPeakRight, std::abs(static_cast<std::int32_t>(out[i].right)) - age);
    }
    peakLeft_ = std::max(runPeakLeft, 0);
    peakRight_ = std::max(runPeakRight, 0);
    params.peakLeft.store(peakLeft_, kRelaxed);
    params.peakRight.store(peakRight_, kRelaxed);
    if (params.recording.load(kRelaxed)) {
        // A stopped engine records silence too.
        if (common::WavRecorder* recorder = recorder_.load(kRelaxed))
            for (int i = 0; i < n; ++i)
                recorder->writeFrame(out[i].left, out[i].right);
        // Saturates instead of wrapping negative after 2 GiB (about 3.4 hours of recording).
        constexpr std::int32_t kLastGrowable = std::numeric_limits<std::int32_t>::max() - 4;
        const std::int32_t bytes = params.recordedBytes.load(kRelaxed);
        if (bytes <= kLastGrowable) {
            const std::int32_t frames = std::min<std::int32_t>(n, (kLastGrowable - bytes) / 4 + 1);
            params.recordedBytes.fetch_add(4 * frames, kRelaxed);
        }
    }
    return n;
}

void LoopEngine::mixRun(OutputFrame* out, int n, int firstCounter, int samplesPerStep) {
    // The units run frame by frame in two groups, with every parameter read once per run: first the
    // basslines between the VCF loopers' frames, so that the long feedback chains of the six filters
    // overlap each other, then the hi-hats, sine, kick and ring modulator. The sines of all the run's
    // frames are then worked out together, and the mix goes column by column. Only the hi-hats draw
    // from audioRandom, so splitting the units into groups keeps every draw in order.
    RunLines& l = lines_;
    {
        const float bass1Volume = params.bass1Volume.load(kRelaxed);
        const float bass2Volume = params.bass2Volume.load(kRelaxed);
        const float vcf1Gain = params.vcf1Gain.load(kRelaxed);
        const float vcf2Gain = params.vcf2Gain.load(kRelaxed);
        bass1.beginRun();
        bass2.beginRun();
        vcf1Looper.setFilter(params.vcf1Cutoff.load(kRelaxed), params.vcf1Feedback.load(kRelaxed));
        vcf2Looper.setFilter(params.vcf2Cutoff.load(kRelaxed), params.vcf2Feedback.load(kRelaxed));
        const int vcf1Playing = vcf1Looper.fetchRun(l.vcf1Left, l.vcf1Right, n);
        const int vcf2Playing = vcf2Looper.fetchRun(l.vcf2Left, l.vcf2Right, n);
        BassVoice::Run bass1Run(bass1), bass2Run(bass2);
        // Inlined at every call, so that the voices' run state stays in registers.
        const auto basses = [&](int i) __attribute__((always_inline)) {
            // The step's last frame reads the counter as 0.
            const int counter = firstCounter + i > samplesPerStep ? 0 : firstCounter + i;
            l.bass1[i] = bass1Run.render(bass1Volume, counter);
            l.bass2[i] = bass2Run.render(bass2Volume, counter);
        };
#if defined(__SSE2__)
        if ((vcf1Playing == 0 || vcf1Playing == n) && (vcf2Playing == 0 || vcf2Playing == n))
            vcfLanesRun(n, vcf1Playing > 0, vcf2Playing > 0, vcf1Gain, vcf2Gain, basses);
        else
#endif
        {
            for (int i = 0; i < n; ++i) {
                basses(i);
                // A looper that has stopped leaves its filters as they are.
                const StereoFrame vcf1 = i < vcf1Playing ? vcf1Looper.finish(l.vcf1Left[i], l.vcf1Right[i], vcf1Gain) : StereoFrame{};
                l.vcf1Left[i] = vcf1.left;
                l.vcf1Right[i] = vcf1.right;
                const StereoFrame vcf2 = i < vcf2Playing ? vcf2Looper.finish(l.vcf2Left[i], l.vcf2Right[i], vcf2Gain) : StereoFrame{};
                l.vcf2Left[i] = vcf2.left;
                l.vcf2Right[i] = vcf2.right;
            }
        }
        bass1Run.finish();
        bass2Run.finish();
    }
    dryLooper.renderRun(l.dryLeft, l.dryRight, n, params.dryLooperGain.load(kRelaxed));
    secondLooper.renderRun(l.secondLeft, l.secondRight, n, params.secondLooperGain.load(kRelaxed));
    slicer.renderRun(l.slicerLeft, l.slicerRight, n);
    {
        const float kickSlide = kick.slide1.load(kRelaxed);
        const float sweepRate = ringModulator.sweepRate.load(kRelaxed);
        const float sweepDepth = ringModulator.sweepDepth.load(kRelaxed);
        const float carrierRate = ringModulator.carrierRate.load(kRelaxed);
        // Every state in locals, so that the chains stay in registers rather than in memory.
        common::Random random = audioRandom;
        HatVoice::Run hatsRun(hats);
        SineVoice::Run sineRun(sine);
        KickVoice::Run kickRun(kick);
        RingModulator::Run modulatorRun(ringModulator);
        for (int i = 0; i < n; ++i) {
            l.hats[i] = hatsRun.render(random);
            sineRun.advance(l.phases[kSinePhases][i], l.sineAmp[i]);
            kickRun.advance(kickSlide, l.phases[kKick1Phases][i], l.phases[kKick2Phases][i]);
            l.phases[kCarrierPhases][i] = modulatorRun.advance(sweepRate, sweepDepth, carrierRate);
        }
        audioRandom = random;
        hatsRun.finish();
        sineRun.finish();
        kickRun.finish();
        modulatorRun.finish();
    }
    for (auto& phases : l.phases)
        sinesInPlace(phases, n);

    const float bass1Clip = bass1.clip.load(kRelaxed);
    const float bass2Clip = bass2.clip.load(kRelaxed);
    const float kickVolume = params.kickVolume.load(kRelaxed);
    const float hatVolume = params.hatVolume.load(kRelaxed);
    const float sineVolume = params.sineVolume.load(kRelaxed);
    const float slicerGain = params.slicerGain.load(kRelaxed);
    const float bass1Echo = bass1.echoSend.load(kRelaxed);
    const float bass2Echo = bass2.echoSend.load(kRelaxed);
    const float hatEcho = hats.hatEchoSend.load(kRelaxed);
    const float secondEcho = secondLooperSends.secondLooperEchoSend.load(kRelaxed);
    const float sineEcho = sine.sineEchoSend.load(kRelaxed);
    const float slicerEcho = slicer.slicerEchoSend.load(kRelaxed);
    const float amBassSine = ringModulator.amBassSineSend.load(kRelaxed);
    const float amHat = ringModulator.amHatSend.load(kRelaxed);
    const float secondAm = secondLooperSends.secondLooperAmSend.load(kRelaxed);
    const float slicerAm = slicer.slicerAmSend.load(kRelaxed);
    const float amEcho = ringModulator.amEchoSend.load(kRelaxed);
    for (int i = 0; i < n; ++i) {
        // Both clamp bounds follow the clip level run by run, so the output does not depend on where a
        // block boundary falls.
        const float b1 = clampTo(l.bass1[i], bass1Clip);
        const float b2 = clampTo(l.bass2[i], bass2Clip);
        const float h = l.hats[i] * hatVolume;
        const float s = SineVoice::output(l.phases[kSinePhases][i], l.sineAmp[i]) * sineVolume;
        const float k = KickVoice::output(l.phases[kKick1Phases][i], l.phases[kKick2Phases][i], kickVolume);
        const float slicerLeft = l.slicerLeft[i] * slicerGain;
        const float slicerRight = l.slicerRight[i] * slicerGain;
        const float secondLeft = l.secondLeft[i];
        const float secondRight = l.secondRight[i];
        const float amInput = amBassSine * b1 + amBassSine * s + amHat * h + secondAm * secondLeft + slicerAm * slicerLeft;
        const float m = l.phases[kCarrierPhases][i] * amInput;
        const float core = k + s + h + b2 + b1;
        float sendLeft = bass1Echo * b1 + bass2Echo * b2 + hatEcho * h + secondEcho * secondLeft + sineEcho * s +
                         slicerEcho * slicerLeft;
        float sendRight = bass1Echo * b1 + bass2Echo * b2 - hatEcho * h + secondEcho * secondRight - sineEcho * s +
                          slicerEcho * slicerRight;
        sendLeft += amEcho * m;
        sendRight -= amEcho * m;
        l.echoLeft[i] = sendLeft;
        l.echoRight[i] = sendRight;
        l.slicerLeft[i] = slicerLeft;
        l.slicerRight[i] = slicerRight;
        l.phases[kCarrierPhases][i] = m;
        l.core[i] = core;
    }
    echo.processRun(l.echoLeft, l.echoRight, n);

    // The synthesised voices and the modulator reach the right channel inverted; samples and echo do not.
    const float gain = params.masterGain.load(kRelaxed);
    const float* m = l.phases[kCarrierPhases];
    for (int i = 0; i < n; ++i) {
        const float left = gain * (l.echoLeft[i] + m[i] + l.core[i] + l.slicerLeft[i] + l.secondLeft[i] +
                                   l.vcf2Left[i] + l.vcf1Left[i] + l.dryLeft[i]);
        const float right = gain * (l.echoRight[i] - l.core[i] - m[i] + l.slicerRight[i] + l.secondRight[i] +
                                    l.vcf2Right[i] + l.vcf1Right[i] + l.dryRight[i]);
        l.echoLeft[i] = left; // the sends are spent: the lines now hold the mixed channels
        l.echoRight[i] = right;
    }
    if (clipAndConvertRun(l.echoLeft, l.echoRight, out, n))
        params.clipped.store(true, kRelaxed);
}

#if defined(__SSE2__)
// The VCF loopers' run through their four filters as vector lanes, four frames at a time, with the
// basslines' frames (perFrame) in between so that their feedback chains overlap. Each looper plays the
// whole run or none of it. A silent looper's lanes, and a mono one's right lane, are worked on zeros and
// keep their filters as they were; the outputs then follow StretchLooper::finish().
template <typename PerFrame>
void LoopEngine::vcfLanesRun(int n, bool vcf1Plays, bool vcf2Plays, float vcf1Gain, float vcf2Gain, PerFrame&& perFrame) {
    RunLines& l = lines_;
    const bool vcf1Stereo = vcf1Looper.stereo(), vcf2Stereo = vcf2Looper.stereo();
    const auto clear = [n](float* line) { std::fill(line, line + n, 0.0f); };
    if (!vcf1Plays) clear(l.vcf1Left);
    if (!vcf1Plays || !vcf1Stereo) clear(l.vcf1Right);
    if (!vcf2Plays) clear(l.vcf2Left);
    if (!vcf2Plays || !vcf2Stereo) clear(l.vcf2Right);
    VcfFilterLanes lanes({&vcf1Looper.leftFilter(), &vcf1Looper.rightFilter(), &vcf2Looper.leftFilter(),
                          &vcf2Looper.rightFilter()});
    const __m128 gains = _mm_setr_ps(vcf1Gain, vcf1Gain, vcf2Gain, vcf2Gain);
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        __m128 a = _mm_loadu_ps(l.vcf1Left + i), b = _mm_loadu_ps(l.vcf1Right + i);
        __m128 c = _mm_loadu_ps(l.vcf2Left + i), d = _mm_loadu_ps(l.vcf2Right + i);
        _MM_TRANSPOSE4_PS(a, b, c, d); // one frame's four lanes per vector
        a = _mm_mul_ps(lanes.process(a), gains);
        perFrame(i);
        b = _mm_mul_ps(lanes.process(b), gains);
        perFrame(i + 1);
        c = _mm_mul_ps(lanes.process(c), gains);
        perFrame(i + 2);
        d = _mm_mul_ps(lanes.process(d), gains);
        perFrame(i + 3);
        _MM_TRANSPOSE4_PS(a, b, c, d); // back to one line per vector
        _mm_storeu_ps(l.vcf1Left + i, a);
        _mm_storeu_ps(l.vcf1Right + i, b);
        _mm_storeu_ps(l.vcf2Left + i, c);
        _mm_storeu_ps(l.vcf2Right + i, d);
    }
    for (; i < n; ++i) {
        alignas(16) float y[4];
        _mm_store_ps(y, _mm_mul_ps(lanes.process(_mm_setr_ps(l.vcf1Left[i], l.vcf1Right[i], l.vcf2Left[i], l.vcf2Right[i])),
                                   gains));
        perFrame(i);
        l.vcf1Left[i] = y[0];
        l.vcf1Right[i] = y[1];
        l.vcf2Left[i] = y[2];
        l.vcf2Right[i] = y[3];
    }
    lanes.finish({!vcf1Plays, !vcf1Plays || !vcf1Stereo, !vcf2Plays, !vcf2Plays || !vcf2Stereo});
    // Silent loopers give silence; a mono one sounds its one filtered channel on both sides.
    if (!vcf1Plays) {
        clear(l.vcf1Left);
        clear(l.vcf1Right);
    } else if (!vcf1Stereo) {
        std::copy(l.vcf1Left, l.vcf1Left + n, l.vcf1Right);
    }
    if (!vcf2Plays) {
        clear(l.vcf2Left);
        clear(l.vcf2Right);
    } else if (!vcf2Stereo) {
        std::copy(l.vcf2Left, l.vcf2Left + n, l.vcf2Right);
    }
}
#endif

void LoopEngine::triggerStep() {
    takePostedScene(); // an opened scene or an undo step starts with this step
    const int step = currentStep_; // always 0..63
    params.playingStep.store(step, kRelaxed);
    const int stepCount = params.stepCount.load(kRelaxed);
    const int transpose = params.transpose.load(kRelaxed);
    bass1.stepLoad(step, stepCount, transpose);
    bass2.stepLoad(step, stepCount, transpose);
    hats.stepLoad(step);
    sine.stepLoad(step, transpose);
    slicer.stepLoad(step);
    if (step == 0) {
        const int samplesPerStep = params.samplesPerStep.load(kRelaxed);
        secondLooper.restart(stepCount, samplesPerStep);
        dryLooper.restart(stepCount, samplesPerStep);
        vcf1Looper.restart(stepCount, samplesPerStep);
        vcf2Looper.restart(stepCount, samplesPerStep);
    }
    if (step % 4 == 0)
        kick.trigger();
    ++currentStep_;

    if (params.requestHats.load(kRelaxed)) {
        generateHats(audioRandom);
        params.requestHats.store(false, kRelaxed);
    }
    if (params.requestSine.load(kRelaxed)) {
        generateSine(audioRandom);
        params.requestSine.store(false, kRelaxed);
    }
    if (params.requestBass1.load(kRelaxed)) {
        generateBass1(audioRandom);
        params.requestBass1.store(false, kRelaxed);
    }
    if (params.requestBass2.load(kRelaxed)) {
        generateBass2(audioRandom);
        params.requestBass2.store(false, kRelaxed);
    }
    if (params.requestKick.load(kRelaxed)) {
        generateKick(audioRandom);
        params.requestKick.store(false, kRelaxed);
    }

    // stepCount may have dropped below the current step, or (from a bad caller) exceed the tables.
    if (currentStep_ >= stepCount || currentStep_ >= kStepTableSize)
        currentStep_ = 0;
}

void LoopEngine::generateBass1(common::Random& random) {
    bass1.generate(random, params.stepCount.load(kRelaxed), params.samplesPerStep.load(kRelaxed));
}

void LoopEngine::generateBass2(common::Random& random) {
    bass2.generate(random, params.stepCount.load(kRelaxed), params.samplesPerStep.load(kRelaxed));
}

void LoopEngine::generateKick(common::Random& random) { kick.generate(random); }

void LoopEngine::generateHats(common::Random& random) { hats.generate(random, params.stepCount.load(kRelaxed)); }

void LoopEngine::generateSine(common::Random& random) { sine.generate(random, params.stepCount.load(kRelaxed)); }

void LoopEngine::alterAm(common::Random& random) { ringModulator.alterAm(random); }

void LoopEngine::alterEcho(common::Random& random) {
    echo.alterEcho(random, params.samplesPerStep.load(kRelaxed));
}

void LoopEngine::alterSecondLooper(common::Random& random) { vexla::alterSecondLooper(secondLooperSends, random); }

void LoopEngine::generateSlicer(common::Random& random) {
    slicer.generateSlicer(random, params.stepCount.load(kRelaxed));
}

void LoopEngine::regenerateAll(common::Random& random) {
    generateBass1(random);
    generateBass2(random);
    generateKick(random);
    alterSecondLooper(random);
    generateSlicer(random);
}

void LoopEngine::postScene(const SceneState& state, unsigned parts) {
    posted_.post(state, parts, copySceneParts);
}

bool LoopEngine::scenePending(SceneState& posted, unsigned& parts) const {
    return posted_.pending(posted, parts);
}

void LoopEngine::takePostedScene() {
    posted_.take([this](const SceneState& state, unsigned parts) { applyScene(*this, state, parts); });
}

void LoopEngine::stopLoopers() {
    secondLooper.stop();
    dryLooper.stop();
    vcf1Looper.stop();
    vcf2Looper.stop();
}

} // namespace vexla
