// Slicer: one stored frame per output frame from the current slice, under a linear decay envelope.
#include "vexla/engine/SlicerVoice.h"

#include <algorithm>

#include "vexla/engine/RunFrames.h"
#include "vexla/samples/SampleSlot.h"

namespace vexla {

std::int32_t SlicerVoice::slicePosition(std::int32_t slice, std::int32_t length) {
    // 64-bit product: 255 × (2^31 − 1) does not fit in 32 bits.
    return static_cast<std::int32_t>(static_cast<std::int64_t>(slice) * length / kSliceDivisions);
}

void SlicerVoice::stepLoad(int step) {
    const int s = std::clamp(step, 0, kMaxSteps - 1);
    decay_ = pattern.decays[static_cast<std::size_t>(s)];
    // A scene file may hold any number; clamp so a position is never negative or past the sample.
    const std::int32_t slice =
        std::clamp(pattern.slices[static_cast<std::size_t>(s)], 0, kSliceDivisions - 1);
    position_ = slicePosition(slice, std::max(slot_->length, 0));
    env_ = 1.0f;
}

void SlicerVoice::render(float* left, float* right, int n, float gain) {
    const SampleSlot& slot = *slot_;
    int playing = 0;
    if (slot.length > 0 && position_ < slot.length && slot.left != nullptr) {
        playing = slot.length - position_ < n ? slot.length - position_ : n;
        const std::int16_t* const leftData = slot.left.get() + position_;
        const bool stereo = slot.stereo && slot.right != nullptr;
        const std::int16_t* const rightData = stereo ? slot.right.get() + position_ : leftData;
        // The envelope first, a short chain; then the products, which the compiler works out several
        // at a time.
        float envelope[kMaxRunFrames];
        float env = env_;
        const float decay = decay_;
        for (int i = 0; i < playing; ++i) {
            envelope[i] = env;
            env -= decay;
            if (env < 0.0f)
                env = 0.0f;
        }
        env_ = env;
        for (int i = 0; i < playing; ++i) {
            left[i] = static_cast<float>(leftData[i]) * envelope[i] * gain;
            right[i] = static_cast<float>(rightData[i]) * envelope[i] * gain;
        }
        position_ += playing;
    }
    std::fill(left + playing, left + n, 0.0f);
    std::fill(right + playing, right + n, 0.0f);
}

void SlicerVoice::generate(SlicerPattern& pattern, common::Random& random, int stepCount) {
    const int steps = std::clamp(stepCount, 0, kMaxSteps);
    // Draw order: echo send, ring-modulator send, all decays, then all slice numbers.
    pattern.echoSend = static_cast<float>(random.below(250)) * 0.0033333334f;
    pattern.amSend = static_cast<float>(random.below(250)) * 0.0033333334f;
    for (int i = 0; i < steps; ++i)
        pattern.decays[static_cast<std::size_t>(i)] = static_cast<float>(random.below(256)) * 0.000002f;
    for (int i = 0; i < steps; ++i)
        pattern.slices[static_cast<std::size_t>(i)] = random.below(250);
}

} // namespace vexla
