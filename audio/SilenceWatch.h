// Tells a device that has stopped calling (unplugged, its sound server gone) from one that merely has
// not been polled, by the pull count seen on the window's regular load polls. Window thread only.
#pragma once

#include <chrono>
#include <cstdint>

namespace audio {

class SilenceWatch {
  public:
    using Clock = std::chrono::steady_clock;

    /// True once the count has stood still over at least three polls and over lostAfter since the first
    /// of them: a pause of the whole process (a suspended machine) is not taken for a lost device.
    bool lost(std::uint32_t pulls, Clock::duration lostAfter, Clock::time_point now = Clock::now()) {
        if (pulls != watchedPulls_) {
            watchedPulls_ = pulls;
            stillPolls_ = 0;
            return false;
        }
        if (stillPolls_++ == 0)
            stillSince_ = now;
        return stillPolls_ >= kStillPollsBeforeLost && now - stillSince_ >= lostAfter;
    }

  private:
    static constexpr int kStillPollsBeforeLost = 3;
    std::uint32_t watchedPulls_ = 0; // a fresh link's count starts at 0 too
    int stillPolls_ = 0;
    Clock::time_point stillSince_;
};

} // namespace audio
