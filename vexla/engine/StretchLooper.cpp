// Stretch looper: one stored frame per output frame at a fractional read position, no interpolation.
#include "vexla/engine/StretchLooper.h"

#include <algorithm>
#include <bit>

#include "vexla/engine/RunFrames.h"
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

void StretchLooper::setFilter(float cutoff, float feedback) {
    // The window's sliders give a feedback for the cutoff they stand with; a scene or --set may pair a
    // high feedback with a low cutoff, where the filter runs away and the output sticks at full scale.
    // Hold it to what the resonance slider's top gives at this cutoff.
    feedback = std::min(feedback, ResonantLowpass::feedbackFor(ResonantLowpass::kHighestSetting, cutoff));
    leftFilter_.cutoff = cutoff;
    leftFilter_.feedback = feedback;
    rightFilter_.cutoff = cutoff;
    rightFilter_.feedback = feedback;
}

int StretchLooper::fetch(float* left, float* right, int n) {
    if (!(length_ > 0.0))
        return 0;
    const double length = length_;
    const double speed = speed_;
    const std::int64_t first = frame_;
    // Frame f plays while f × speed < length; the position only grows, so the frames that play come first.
    const auto plays = [&](std::int64_t frame) { return static_cast<double>(frame) * speed < length; };
    int playing = static_cast<int>(std::min<std::int64_t>(n, framesToPlay_ - first));
    if (playing > 0 && !plays(first + playing - 1)) {
        int count = 0;
        while (count < playing && plays(first + count))
            ++count;
        playing = count;
    }
    // Index of the stored frame: nearest to position − 0.5, ties to even (0, 0, 2, 2, … at speed 1).
    // position < length keeps it at most length − 1; the min guards the last ulp.
    // Adding 1.5 × 2^52 leaves that integer in the low bits of the double. Each index is worked out
    // where its frames are read (a load that waits on an index just stored by a vector loop stalls),
    // and the frames are converted apart, several at a time.
    const auto lastIndex = static_cast<std::int32_t>(length) - 1;
    const auto firstFrame = static_cast<double>(first); // exact: frames stay far below 2^53
    const auto indexOf = [&](int i) {
        const double shifted = (firstFrame + i) * speed - 0.5 + 6755399441055744.0;
        return std::min(static_cast<std::int32_t>(std::bit_cast<std::int64_t>(shifted)), lastIndex);
    };
    std::int16_t gatheredLeft[kMaxRunFrames], gatheredRight[kMaxRunFrames];
    if (stereo_) {
        for (int i = 0; i < playing; ++i) {
            const std::int32_t index = indexOf(i);
            gatheredLeft[i] = leftData_[index];
            gatheredRight[i] = rightData_[index];
        }
        for (int i = 0; i < playing; ++i)
            right[i] = gatheredRight[i];
    } else {
        for (int i = 0; i < playing; ++i)
            gatheredLeft[i] = leftData_[indexOf(i)];
    }
    for (int i = 0; i < playing; ++i)
        left[i] = gatheredLeft[i];
    frame_ = first + playing;
    position_ = static_cast<double>(frame_) * speed;
    return playing;
}

void StretchLooper::render(float* left, float* right, int n, float gain) {
    const int playing = fetch(left, right, n);
    if (filtered_) {
        FilterRun filters(*this);
        for (int i = 0; i < playing; ++i)
            filters.filter(left[i], right[i]);
        filters.finish();
    }
    finishRun(left, right, n, playing, gain);
}

void StretchLooper::finishRun(float* left, float* right, int n, int playing, float gain) {
    for (int i = 0; i < playing; ++i)
        left[i] *= gain;
    if (stereo_)
        for (int i = 0; i < playing; ++i)
            right[i] *= gain;
    else
        std::copy(left, left + playing, right);
    std::fill(left + playing, left + n, 0.0f);
    std::fill(right + playing, right + n, 0.0f);
}

} // namespace vexla
