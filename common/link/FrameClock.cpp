// The stream's frames on the host's clock: a least-squares line through the latest blocks' offsets from
// the nominal rate.
#include "common/link/FrameClock.h"

#include <algorithm>
#include <cmath>

namespace common {

FrameClock::FrameClock(double sampleRate)
    : microsPerFrame_(1e6 / (sampleRate > 0.0 ? sampleRate : 44100.0)) {}

void FrameClock::reset() {
    count_ = next_ = shifted_ = 0;
    level_ = slope_ = 0.0;
}

void FrameClock::sample(std::int64_t frame, std::int64_t heardMicros) {
    const double residual = static_cast<double>(heardMicros) - static_cast<double>(frame) * microsPerFrame_;
    const double miss =
        count_ > 0 ? residual - (microsAt(frame) - static_cast<double>(frame) * microsPerFrame_) : 0.0;
    if (std::abs(miss) > kRestartMicros)
        reset();
    if (std::abs(miss) <= kShiftMicros)
        shifted_ = 0;
    else if (miss > 0.0)
        shifted_ = std::max(shifted_, 0) + 1;
    else
        shifted_ = std::min(shifted_, 0) - 1;
    if (count_ == 0) {
        originFrame_ = frame;
        originResidual_ = residual;
    }
    pairs_[static_cast<std::size_t>(next_)] = {static_cast<double>(frame - originFrame_),
                                               residual - originResidual_};
    next_ = (next_ + 1) % kWindow;
    count_ = std::min(count_ + 1, kWindow);
    if (std::abs(shifted_) >= kShiftPairs) {
        std::array<Pair, kShiftPairs> latest{};
        for (int i = 0; i < kShiftPairs; ++i)
            latest[static_cast<std::size_t>(i)] =
                pairs_[static_cast<std::size_t>((next_ - kShiftPairs + i + kWindow) % kWindow)];
        std::copy(latest.begin(), latest.end(), pairs_.begin());
        count_ = next_ = kShiftPairs;
        shifted_ = 0;
    }
    fit();
}

void FrameClock::fit() {
    double meanX = 0.0, meanY = 0.0;
    for (int i = 0; i < count_; ++i) {
        meanX += pairs_[static_cast<std::size_t>(i)].frame;
        meanY += pairs_[static_cast<std::size_t>(i)].residual;
    }
    meanX /= count_;
    meanY /= count_;
    double sxx = 0.0, sxy = 0.0;
    for (int i = 0; i < count_; ++i) {
        const double dx = pairs_[static_cast<std::size_t>(i)].frame - meanX;
        sxx += dx * dx;
        sxy += dx * (pairs_[static_cast<std::size_t>(i)].residual - meanY);
    }
    // Too few pairs, or too short a span, to tell a rate: the nominal one.
    const double limit = kMostRateError * microsPerFrame_;
    slope_ = sxx > 0.0 && count_ >= 8 ? std::clamp(sxy / sxx, -limit, limit) : 0.0;
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
