// Stretch looper: one stored frame per output frame at a fractional read position, no interpolation.
#include "vexla/engine/StretchLooper.h"

#include <algorithm>
#include <cstring>

#include "vexla/samples/SampleSlot.h"

namespace vexla {

namespace {

/// The integer nearest to x, ties to even, by the add-a-large-constant technique: adding 1.5 × 2^52 leaves
/// the rounded integer in the low mantissa bits. Exact for |x| < 2^51.
std::int64_t roundHalfEven(double x) {
    const double shifted = x + 6755399441055744.0;
    std::int64_t bits;
    std::memcpy(&bits, &shifted, sizeof bits);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
}

} // namespace

void StretchLooper::restart(int stepCount, int samplesPerStep) {
    const SampleSlot& slot = *slot_;
    position_ = 0.0;
    frame_ = 0;
    leftData_ = slot.left.get();
    stereo_ = slot.stereo && slot.right != nullptr;
    rightData_ = stereo_ ? slot.right.get() : nullptr;
    const double frames = static_cast<double>(stepCount) * static_cast<double>(samplesPerStep);
    // A slot without data, or a sequence of no frames, plays nothing rather than dividing by zero.
    if (slot.length <= 0 || leftData_ == nullptr || frames <= 0.0) {
        length_ = 0.0;
        speed_ = 0.0;
        framesToPlay_ = 0;
        return;
    }
    length_ = static_cast<double>(slot.length);
    speed_ = length_ / frames;
    framesToPlay_ = static_cast<std::int64_t>(stepCount) * samplesPerStep;
}

void StretchLooper::stop() {
    position_ = 0.0;
    length_ = 0.0;
    frame_ = 0;
    framesToPlay_ = 0;
}

StereoFrame StretchLooper::render(float gain, float cutoff, float feedback) {
    leftFilter_.cutoff = cutoff;
    leftFilter_.feedback = feedback;
    rightFilter_.cutoff = cutoff;
    rightFilter_.feedback = feedback;
    return render(gain);
}

StereoFrame StretchLooper::render(float gain) {
    if (!(length_ > 0.0 && position_ < length_ && frame_ < framesToPlay_)) return {};
    // Index of the stored frame: nearest to position − 0.5, ties to even (0, 0, 2, 2, … at speed 1).
    // position < length keeps it at most length − 1; the min guards the last ulp.
    const std::int64_t lastIndex = static_cast<std::int64_t>(length_) - 1;
    const std::int64_t index = std::min(roundHalfEven(position_ - 0.5), lastIndex);
    float left = leftData_[index];
    float right = stereo_ ? static_cast<float>(rightData_[index]) : 0.0f;
    if (filtered_) {
        left = leftFilter_.process(left);
        // A mono sample is filtered once; the right filter stays as it was.
        if (stereo_) right = rightFilter_.process(right);
    }
    StereoFrame out;
    out.left = left * gain;
    out.right = stereo_ ? right * gain : out.left;
    ++frame_;
    position_ = static_cast<double>(frame_) * speed_;
    return out;
}

void alterSecondLooper(SecondLooperSends& sends, common::Random& random) {
    // Echo send first, then the ring-modulator send: the order fixes the sequence of draws.
    const float echoSend = static_cast<float>(random.below(512)) / 256.0f;
    sends.secondLooperEchoSend.store(echoSend, std::memory_order_relaxed);
    const float amSend = static_cast<float>(random.below(512)) / 256.0f;
    sends.secondLooperAmSend.store(amSend, std::memory_order_relaxed);
}

VcfFilterSetting vcfFilterFromSliders(int cutoffPosition, int resonancePosition) {
    const float c = std::clamp(static_cast<float>(cutoffPosition) / 128.0f, 0.05f, 0.95f);
    const float q = std::clamp(static_cast<float>(resonancePosition) / 128.0f, 0.05f, 0.95f);
    return {c, ResonantLowpass::feedbackFor(q, c)};
}

} // namespace vexla
