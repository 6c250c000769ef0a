// The stream's frames on the host's clock: a running mean of each block's offset from the nominal rate.
#include "common/link/FrameClock.h"

#include <cmath>

namespace common {

FrameClock::FrameClock(double sampleRate)
    : microsPerFrame_(1e6 / (sampleRate > 0.0 ? sampleRate : 44100.0)) {}

void FrameClock::reset() {
    sum_ = 0.0;
    count_ = next_ = 0;
}

void FrameClock::sample(std::int64_t frame, std::int64_t heardMicros) {
    const double residual = static_cast<double>(heardMicros) - static_cast<double>(frame) * microsPerFrame_;
    if (count_ > 0 && std::abs(residual - offset()) > kRestartMicros)
        reset();
    if (count_ == 0)
        base_ = residual; // the sums stay small, and exact
    const double value = residual - base_;
    if (count_ == kWindow)
        sum_ -= residuals_[static_cast<std::size_t>(next_)];
    else
        ++count_;
    residuals_[static_cast<std::size_t>(next_)] = value;
    sum_ += value;
    next_ = (next_ + 1) % kWindow;
}

double FrameClock::microsAt(std::int64_t frame) const {
    return static_cast<double>(frame) * microsPerFrame_ + (count_ > 0 ? offset() : 0.0);
}

std::int64_t FrameClock::frameAt(double micros) const {
    return std::llround((micros - (count_ > 0 ? offset() : 0.0)) / microsPerFrame_);
}

} // namespace common
