// Sample player that stretches its slot's sample over one pass of the sequence, optionally through a
// resonant low-pass per channel. restart(), stop() and render() on the audio thread (stop() also from
// the loader while it holds engineLock); alterSecondLooper() and vcfFilterFromSliders() on any thread.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/Random.h"
#include "vexla/engine/ResonantLowpass.h"
#include "vexla/engine/StereoFrame.h"

namespace vexla {

struct SampleSlot;

class StretchLooper {
public:
    /// `slot` must outlive the looper; `filtered` makes it a VCF looper with a filter per channel.
    explicit StretchLooper(const SampleSlot& slot, bool filtered = false) : slot_(&slot), filtered_(filtered) {}
    StretchLooper(const StretchLooper&) = delete;
    StretchLooper& operator=(const StretchLooper&) = delete;

    /// Starts the slot's sample afresh so that it spans stepCount × samplesPerStep frames.
    /// Captures the slot's arrays, length and stereo flag; the slot is not read again until the next restart.
    void restart(int stepCount, int samplesPerStep);

    /// Silences the looper until the next restart (position and length 0). The loader calls this under
    /// engineLock before it replaces any slot's arrays, so no captured array outlives its slot.
    void stop();

    /// One frame with the filters (if any) set to cutoff 0.05..0.95 and feedback; gain applied to both sides.
    StereoFrame render(float gain, float cutoff, float feedback);

    /// One frame; a VCF looper keeps the filter settings it last had.
    StereoFrame render(float gain);

    // render() in two parts, for a render of many frames: fetchRun() reads the stored frames of up to n
    // frames while the looper plays and returns how many it read (the rest of the run is silent); finish()
    // then takes each fetched frame through the filters (if any) and the gain.

    /// Raw stored frames into left and (stereo only) right; returns the count, 0..n.
    int fetchRun(float* left, float* right, int n);
    /// One fetched frame through the filters and the gain.
    StereoFrame finish(float left, float right, float gain);
    /// n frames of render(gain) into left and right.
    void renderRun(float* left, float* right, int n, float gain);

private:
    template <bool kStereo>
    int fetch(float* left, float* right, int n);

public:

    /// Sets the filters (if any) to cutoff 0.05..0.95 and feedback, as render(gain, cutoff, feedback) does.
    void setFilter(float cutoff, float feedback) {
        leftFilter_.cutoff = cutoff;
        leftFilter_.feedback = feedback;
        rightFilter_.cutoff = cutoff;
        rightFilter_.feedback = feedback;
    }

    /// The filters themselves, for a render that works several filters together. Audio thread only.
    ResonantLowpass& leftFilter() { return leftFilter_; }
    ResonantLowpass& rightFilter() { return rightFilter_; }

    bool filtered() const { return filtered_; }
    double position() const { return position_; }
    double length() const { return length_; }
    double speed() const { return speed_; }
    bool stereo() const { return stereo_; }

private:
    /// The integer nearest to x, ties to even, by the add-a-large-constant technique: adding 1.5 × 2^52
    /// leaves the rounded integer in the low mantissa bits. Exact for |x| < 2^31.
    static std::int64_t roundHalfEven(double x) {
        const double shifted = x + 6755399441055744.0;
        std::int64_t bits;
        std::memcpy(&bits, &shifted, sizeof bits);
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
    }

    const SampleSlot* slot_;
    bool filtered_;

    double position_ = 0.0;
    double length_ = 0.0;
    // Position is frame × speed rather than a running sum, so that it does not drift and the sample ends
    // after exactly framesToPlay_ frames.
    std::int64_t frame_ = 0;
    std::int64_t framesToPlay_ = 0;
    double speed_ = 0.0;
    bool stereo_ = false;
    const std::int16_t* leftData_ = nullptr;
    const std::int16_t* rightData_ = nullptr;
    ResonantLowpass leftFilter_{0.5f, 1.5f};
    ResonantLowpass rightFilter_{0.5f, 1.5f};
};

/// The second looper's effect sends, rewritten by alterSecondLooper on the window thread while the render reads.
struct SecondLooperSends {
    std::atomic<float> secondLooperEchoSend{0.0f}; ///< 0..1.99609375, on both channels
    std::atomic<float> secondLooperAmSend{0.0f};   ///< 0..1.99609375, left channel into the ring modulator
};

/// "2nd Looper": draws the echo send, then the ring-modulator send, each randomBelow(512) / 256.
void alterSecondLooper(SecondLooperSends& sends, common::Random& random);

/// One VCF looper's filter values from its two slider positions.
struct VcfFilterSetting {
    float cutoff;   ///< c = position / 128, forced into 0.05..0.95
    float feedback; ///< q + q / (1 − c), q = resonance position / 128 forced into 0.05..0.95
};

/// cutoffPosition and resonancePosition are slider positions 0..128.
VcfFilterSetting vcfFilterFromSliders(int cutoffPosition, int resonancePosition);

inline StereoFrame StretchLooper::render(float gain, float cutoff, float feedback) {
    setFilter(cutoff, feedback);
    return render(gain);
}

// Inline: four loopers run on every frame, and a silent one should cost one comparison.
inline StereoFrame StretchLooper::render(float gain) {
    float left = 0.0f;
    float right = 0.0f;
    if (fetchRun(&left, &right, 1) == 0) return {};
    return finish(left, right, gain);
}

inline int StretchLooper::fetchRun(float* left, float* right, int n) {
    if (!(length_ > 0.0)) return 0;
    return stereo_ ? fetch<true>(left, right, n) : fetch<false>(left, right, n);
}

template <bool kStereo>
int StretchLooper::fetch(float* left, float* right, int n) {
    // Locals, so that the loop keeps them in registers.
    const double length = length_;
    const double speed = speed_;
    const std::int16_t* const leftData = leftData_;
    const std::int16_t* const rightData = rightData_;
    // Index of the stored frame: nearest to position − 0.5, ties to even (0, 0, 2, 2, … at speed 1).
    // position < length keeps it at most length − 1; the min guards the last ulp.
    const std::int64_t lastIndex = static_cast<std::int64_t>(length) - 1;
    const std::int64_t limit = std::min<std::int64_t>(n, framesToPlay_ - frame_);
    std::int64_t frame = frame_;
    double position = position_;
    int i = 0;
#if defined(__SSE2__)
    // The position only grows, so when the run's last frame still plays, every frame of it does: then the
    // indices go four at a time, with the same products and roundings (the frame numbers as doubles are exact).
    if (limit >= 4 && position < length && static_cast<double>(frame + limit - 1) * speed < length) {
        alignas(16) std::int32_t indices[64];
        const int count = static_cast<int>(std::min<std::int64_t>(limit, 64));
        const __m128d speeds = _mm_set1_pd(speed);
        const __m128d half = _mm_set1_pd(0.5);
        const __m128d shift = _mm_set1_pd(6755399441055744.0);
        const __m128i last = _mm_set1_epi32(static_cast<std::int32_t>(lastIndex));
        const __m128d four = _mm_set1_pd(4.0);
        const double first = static_cast<double>(frame);
        __m128d frames01 = _mm_set_pd(first + 1.0, first);
        __m128d frames23 = _mm_set_pd(first + 3.0, first + 2.0);
        for (; i + 4 <= count; i += 4) {
            const __m128d low = _mm_add_pd(_mm_sub_pd(_mm_mul_pd(frames01, speeds), half), shift);
            const __m128d high = _mm_add_pd(_mm_sub_pd(_mm_mul_pd(frames23, speeds), half), shift);
            // The rounded integers sit in the low 32 bits of each double.
            const __m128i rounded = _mm_castps_si128(
                _mm_shuffle_ps(_mm_castpd_ps(low), _mm_castpd_ps(high), _MM_SHUFFLE(2, 0, 2, 0)));
            const __m128i over = _mm_cmpgt_epi32(rounded, last);
            _mm_store_si128(reinterpret_cast<__m128i*>(indices + i),
                            _mm_or_si128(_mm_andnot_si128(over, rounded), _mm_and_si128(over, last)));
            frames01 = _mm_add_pd(frames01, four);
            frames23 = _mm_add_pd(frames23, four);
        }
        // Four stored values gathered into a vector, widened and converted together (exactly, as one by one).
        const auto gather = [&indices](const std::int16_t* data, int j) {
            __m128i v = _mm_cvtsi32_si128(data[indices[j]]);
            v = _mm_insert_epi16(v, data[indices[j + 1]], 1);
            v = _mm_insert_epi16(v, data[indices[j + 2]], 2);
            v = _mm_insert_epi16(v, data[indices[j + 3]], 3);
            return _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16));
        };
        for (int j = 0; j < i; j += 4) {
            _mm_storeu_ps(left + j, gather(leftData, j));
            if constexpr (kStereo) _mm_storeu_ps(right + j, gather(rightData, j));
        }
        frame += i;
        position = static_cast<double>(frame) * speed;
    }
#endif
    for (; i < limit && position < length; ++i) {
        const std::int64_t index = std::min(roundHalfEven(position - 0.5), lastIndex);
        left[i] = leftData[index];
        if constexpr (kStereo) right[i] = rightData[index];
        ++frame;
        position = static_cast<double>(frame) * speed;
    }
    frame_ = frame;
    position_ = position;
    return i;
}

inline StereoFrame StretchLooper::finish(float left, float right, float gain) {
    if (!stereo_) right = 0.0f;
    if (filtered_) {
        left = leftFilter_.process(left);
        // A mono sample is filtered once; the right filter stays as it was.
        if (stereo_) right = rightFilter_.process(right);
    }
    StereoFrame out;
    out.left = left * gain;
    out.right = stereo_ ? right * gain : out.left;
    return out;
}

inline void StretchLooper::renderRun(float* left, float* right, int n, float gain) {
    const int playing = fetchRun(left, right, n);
    if (filtered_) {
        for (int i = 0; i < playing; ++i) {
            const StereoFrame out = finish(left[i], right[i], gain);
            left[i] = out.left;
            right[i] = out.right;
        }
    } else if (stereo_) {
        for (int i = 0; i < playing; ++i) {
            left[i] *= gain;
            right[i] *= gain;
        }
    } else {
        for (int i = 0; i < playing; ++i) {
            left[i] *= gain;
            right[i] = left[i];
        }
    }
    for (int i = playing; i < n; ++i) {
        left[i] = 0.0f;
        right[i] = 0.0f;
    }
}

} // namespace vexla
