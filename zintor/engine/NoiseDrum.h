// Noise drum: decaying unipolar white noise, high-passed by subtracting a twice-smoothed copy;
// NoiseDrumLanes runs three of them side by side. strike(), renderSample(), render() and the lanes
// on the audio thread only; decay and tone may be written from any thread.
#pragma once

#include "common/Random.h"

#include <atomic>

#include <emmintrin.h>

namespace zintor {

class NoiseDrum {
  public:
    NoiseDrum() = default;
    virtual ~NoiseDrum() = default;
    NoiseDrum(const NoiseDrum&) = delete;
    NoiseDrum& operator=(const NoiseDrum&) = delete;

    /// Sets the envelope back to 1; the smoothing stages carry on.
    void strike();

    /// Next output sample; draws one number from `random` (the audio thread's generator).
    float renderSample(common::Random& random);

    /// Renders `frames` consecutive samples into `out` from numbers drawn beforehand: sample i uses
    /// draws[i × stride] (0..32767), so drums that share a generator can take turns as they would
    /// sample by sample. The parameters are read once per call.
    void render(float* out, int frames, const int* draws, int stride);

    float level = 1.0f;               ///< envelope of the noise, 0..1
    std::atomic<float> decay{0.998f}; ///< factor on level per sample, below 1
    std::atomic<float> tone{0.5f};    ///< coefficient of both smoothing stages, 0..1
    float smooth1 = 0.0f;
    float smooth2 = 0.0f;
};

inline void NoiseDrum::strike() {
    level = 1.0f;
}

// Defined here so that the engine's loop can inline them.
inline void NoiseDrum::render(float* out, int frames, const int* draws, int stride) {
    const float factor = decay.load(std::memory_order_relaxed);
    const float t = tone.load(std::memory_order_relaxed);
    float envelope = level;
    float first = smooth1;
    float second = smooth2;
    for (int i = 0; i < frames; ++i) {
        envelope *= factor;
        const float x = static_cast<float>(draws[i * stride]) * (1.0f / 32768.0f) * envelope;
        first += (x - first) * t;
        second += (first - second) * t;
        out[i] = x - second;
    }
    level = envelope;
    smooth1 = first;
    smooth2 = second;
}

/// Three NoiseDrums side by side in the lanes of SSE registers (the fourth lane repeats the third),
/// each lane doing exactly the operations of NoiseDrum::render(). For loops that render the drums
/// together with other work, so that the drums' smoothing chains overlap it. Audio thread only.
class NoiseDrumLanes {
  public:
    NoiseDrumLanes(NoiseDrum& a, NoiseDrum& b, NoiseDrum& c) : a_(a), b_(b), c_(c) {
        constexpr auto kRelaxed = std::memory_order_relaxed;
        factor_ = _mm_setr_ps(a.decay.load(kRelaxed), b.decay.load(kRelaxed), c.decay.load(kRelaxed),
                              c.decay.load(kRelaxed));
        tone_ = _mm_setr_ps(a.tone.load(kRelaxed), b.tone.load(kRelaxed), c.tone.load(kRelaxed),
                            c.tone.load(kRelaxed));
        envelope_ = _mm_setr_ps(a.level, b.level, c.level, c.level);
        first_ = _mm_setr_ps(a.smooth1, b.smooth1, c.smooth1, c.smooth1);
        second_ = _mm_setr_ps(a.smooth2, b.smooth2, c.smooth2, c.smooth2);
    }
    NoiseDrumLanes(const NoiseDrumLanes&) = delete;
    NoiseDrumLanes& operator=(const NoiseDrumLanes&) = delete;

    /// The next sample of each drum from the draws draws[0], draws[1], draws[2] (draws[3] is read
    /// and unused).
    [[gnu::always_inline]] __m128 next(const int* draws) {
        envelope_ = _mm_mul_ps(envelope_, factor_);
        const __m128 v = _mm_cvtepi32_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(draws)));
        const __m128 x = _mm_mul_ps(_mm_mul_ps(v, _mm_set1_ps(1.0f / 32768.0f)), envelope_);
        first_ = _mm_add_ps(first_, _mm_mul_ps(_mm_sub_ps(x, first_), tone_));
        second_ = _mm_add_ps(second_, _mm_mul_ps(_mm_sub_ps(first_, second_), tone_));
        return _mm_sub_ps(x, second_);
    }

    /// Writes the state back into the three drums.
    void store() {
        alignas(16) float v[4];
        _mm_store_ps(v, envelope_);
        a_.level = v[0];
        b_.level = v[1];
        c_.level = v[2];
        _mm_store_ps(v, first_);
        a_.smooth1 = v[0];
        b_.smooth1 = v[1];
        c_.smooth1 = v[2];
        _mm_store_ps(v, second_);
        a_.smooth2 = v[0];
        b_.smooth2 = v[1];
        c_.smooth2 = v[2];
    }

  private:
    NoiseDrum& a_;
    NoiseDrum& b_;
    NoiseDrum& c_;
    __m128 factor_;
    __m128 tone_;
    __m128 envelope_;
    __m128 first_;
    __m128 second_;
};

inline float NoiseDrum::renderSample(common::Random& random) {
    const int v = random.next();
    float y;
    render(&y, 1, &v, 1);
    return y;
}

} // namespace zintor
