// The stream's frames on the host's clock: a least-squares line through the latest blocks' offsets from
// the nominal rate.
#include "common/link/FrameClock.h"

#include <algorithm>
#include <cmath>

namespace common {

FrameClock::FrameClock(double sampleRate)
    : microsPerFrame_(1e6 / (sampleRate > 0.0 ? sampleRate : 44100.0)) {}

void FrameClock::reset() {
    pairs_.clear();
    shifted_ = 0;
    level_ = slope_ = 0.0;
}

void FrameClock::sample(std::int64_t frame, std::int64_t heardMicros) {
    const double residual = static_cast<double>(heardMicros) - static_cast<double>(frame) * microsPerFrame_;
    const double miss =
        known() ? residual - (microsAt(frame) - static_cast<double>(frame) * microsPerFrame_) : 0.0;
    if (std::abs(miss) > kRestartMicros)
        reset();
    if (std::abs(miss) <= kShiftMicros)
        shifted_ = 0;
    else if (miss > 0.0)
        shifted_ = std::max(shifted_, 0) + 1;
    else
        shifted_ = std::min(shifted_, 0) - 1;
    if (!known()) {
        originFrame_ = frame;
        originResidual_ = residual;
    }
    pairs_.pushOverOldest({static_cast<double>(frame - originFrame_), residual - originResidual_});
    if (std::abs(shifted_) >= kShiftPairs) {
        pairs_.dropOldest(pairs_.size() - kShiftPairs);
        shifted_ = 0;
    }
    fit();
}

void FrameClock::fit() {
    const int count = pairs_.size();
    double meanX = 0.0, meanY = 0.0;
    for (int i = 0; i < count; ++i) {
        meanX += pairs_.at(i).frame;
        meanY += pairs_.at(i).residual;
    }
    meanX /= count;
    meanY /= count;
    double sxx = 0.0, sxy = 0.0;
    for (int i = 0; i < count; ++i) {
        const double dx = pairs_.at(i).frame - meanX;
        sxx += dx * dx;
        sxy += dx * (pairs_.at(i).residual - meanY);
    }
    // Too few pairs, or too short a span, to tell a rate: the nominal one.
    const double limit = kMostRateError * microsPerFrame_;
    slope_ = sxx > 0.0 && count >= 8 ? std::clamp(sxy / sxx, -limit, limit) : 0.0;
    level_ = meanY - slope_ * meanX;
}

double FrameClock::microsAt(std::int64_t frame) const {
    const double x = static_cast<double>(frame - originFrame_);
    return static_cast<double>(frame) * microsPerFrame_ + originResidual_ + level_ + slope_ * x;
}

std::int64_t FrameClock::frameAt(double micros) const {
    // micros = frame × microsPerFrame + originResidual + level + slope × (frame − originFrame)
    const double fromOrigin =
        micros - static_cast<double>(originFrame_) * microsPerFrame_ - originResidual_ - level_;
    return originFrame_ + std::llround(fromOrigin / (microsPerFrame_ + slope_));
}

} // namespace common
