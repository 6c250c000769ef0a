// Stretch looper: one stored frame per output frame at a fractional read position, no interpolation.
#include "vexla/engine/StretchLooper.h"

#include <algorithm>

#include "vexla/samples/SampleSlot.h"

namespace vexla {

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
