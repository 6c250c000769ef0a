// The DC blocker: y[n] = x[n] − x[n−1] + pole · y[n−1], crossed with the plain signal while it switches.
#include "common/DcFilter.h"

#include <cmath>
#include <numbers>

namespace common {

namespace {
constexpr double kPole = 1.0 - 2.0 * std::numbers::pi * kDcFilterCornerHz / 44100.0;
} // namespace

void DcFilter::render(float* samples, int frames, int stride, bool on) {
    if (frames <= 0)
        return;
    if (!started_) {
        fade_ = on ? kDcFilterFadeFrames : 0; // on from the first sample: nothing to fade from
        started_ = true;
    }
    double lastIn = lastIn_;
    double lastOut = lastOut_;
    int fade = fade_;
    for (int i = 0; i < frames; ++i) {
        float& sample = samples[static_cast<long>(i) * stride];
        const double in = sample;
        lastOut = in - lastIn + kPole * lastOut;
        lastIn = in;
        if (on ? fade < kDcFilterFadeFrames : fade > 0)
            fade += on ? 1 : -1;
        if (fade == kDcFilterFadeFrames)
            sample = static_cast<float>(lastOut);
        else if (fade > 0) {
            const double wet = static_cast<double>(fade) / kDcFilterFadeFrames;
            sample = static_cast<float>(in + wet * (lastOut - in));
        }
    }
    // A non-finite sample (a unit run away) would stay in the recursion for good: start afresh.
    if (!std::isfinite(lastOut) || !std::isfinite(lastIn))
        lastIn = lastOut = 0.0;
    lastIn_ = lastIn;
    lastOut_ = lastOut;
    fade_ = fade;
}

} // namespace common
