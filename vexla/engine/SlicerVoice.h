// Sample player that jumps at every step to one of 256 equal slices of its slot's sample, with a per-step
// decay. stepLoad() and render() on the audio thread; generateSlicer() on the window thread (its tables
// and sends are atomics that the render reads).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "common/Random.h"
#include "vexla/engine/StereoFrame.h"
#include "vexla/samples/SampleSlot.h"

namespace vexla {

class SlicerVoice {
public:
    static constexpr int kMaxSteps = 64;
    static constexpr int kSliceDivisions = 256;

    /// `slot` must outlive the voice; the voice reads it on every frame (under engineLock, via the render).
    explicit SlicerVoice(const SampleSlot& slot) : slot_(&slot) {}
    SlicerVoice(const SlicerVoice&) = delete;
    SlicerVoice& operator=(const SlicerVoice&) = delete;

    /// Step start: takes the step's decay and jumps to its slice. step is currentStep, 0..63.
    void stepLoad(int step);

    /// One frame, before slicerGain: one stored frame per output frame, times the envelope.
    StereoFrame render();

    /// n frames of render() into left and right.
    void renderRun(float* left, float* right, int n);

    /// "Slicer": the two sends, then stepCount decays, then stepCount slice numbers, in that draw order.
    void generateSlicer(common::Random& random, int stepCount);

    /// Start frame of slice `slice` (0..255) in a sample of `length` frames: slice × length / 256,
    /// truncated, without overflow for any int32 length.
    static std::int32_t slicePosition(std::int32_t slice, std::int32_t length);

    std::array<std::atomic<std::int32_t>, kMaxSteps> slices{};    ///< slice number per step, 0..249
    std::array<std::atomic<float>, kMaxSteps> sliceDecays{};      ///< envelope decrement per frame, per step
    std::atomic<float> slicerEchoSend{0.0f};                      ///< 0..0.83, both channels
    std::atomic<float> slicerAmSend{0.0f};                        ///< 0..0.83, left channel

    std::int32_t position() const { return position_; }
    float env() const { return env_; }

private:
    const SampleSlot* slot_;
    std::int32_t position_ = 0;
    float env_ = 0.0f;
    float decay_ = 1.0f;
};

// Inline: it runs once per frame.
inline StereoFrame SlicerVoice::render() {
    const SampleSlot& slot = *slot_;
    if (slot.length <= 0 || position_ >= slot.length || slot.left == nullptr) return {};
    StereoFrame out;
    out.left = static_cast<float>(slot.left[position_]) * env_;
    out.right = (slot.stereo && slot.right != nullptr) ? static_cast<float>(slot.right[position_]) * env_ : out.left;
    ++position_;
    env_ -= decay_;
    if (env_ < 0.0f) env_ = 0.0f;
    return out;
}

inline void SlicerVoice::renderRun(float* left, float* right, int n) {
    const SampleSlot& slot = *slot_;
    int playing = 0;
    if (slot.length > 0 && position_ < slot.length && slot.left != nullptr) {
        playing = slot.length - position_ < n ? slot.length - position_ : n;
        const std::int16_t* const leftData = slot.left.get() + position_;
        const bool stereo = slot.stereo && slot.right != nullptr;
        const std::int16_t* const rightData = stereo ? slot.right.get() + position_ : leftData;
        float env = env_;
        const float decay = decay_;
        for (int i = 0; i < playing; ++i) {
            left[i] = static_cast<float>(leftData[i]) * env;
            right[i] = stereo ? static_cast<float>(rightData[i]) * env : left[i];
            env -= decay;
            if (env < 0.0f) env = 0.0f;
        }
        env_ = env;
        position_ += playing;
    }
    for (int i = playing; i < n; ++i) {
        left[i] = 0.0f;
        right[i] = 0.0f;
    }
}

} // namespace vexla
