// Sample player that stretches its slot's sample over one pass of the sequence, optionally through a
// resonant low-pass per channel. Audio thread only (or while no render runs).
#pragma once

#include "common/NoCopy.h"
#include <cstdint>

#include "vexla/engine/ResonantLowpass.h"

namespace vexla {

struct SampleSlot;

class StretchLooper : common::NoCopy {
  public:
    /// `slot` must outlive the looper; `filtered` makes it a VCF looper with a filter per channel.
    explicit StretchLooper(const SampleSlot& slot, bool filtered = false)
        : slot_(&slot), filtered_(filtered) {}

    /// Starts the slot's sample afresh so that it spans stepCount × samplesPerStep frames.
    /// Captures the slot's arrays, length and stereo flag; the slot is not read again until the next restart.
    void restart(int stepCount, int samplesPerStep);

    /// Silences the looper until the next restart (position and length 0). A sample swap calls this
    /// before it replaces any slot's arrays, so no captured array outlives its slot.
    void stop();

    /// Sets the filters (if any) to cutoff 0.05..0.95 and feedback; they keep it until the next call.
    void setFilter(float cutoff, float feedback);

    /// n frames into left and right: the stored frames, through the filters (if any), times gain. A mono
    /// sample sounds on both sides; past the sample's end the frames are silent and the filters rest.
    void render(float* left, float* right, int n, float gain);

    // render() in parts, for the engine, which works the VCF loopers' filter steps between the
    // basslines' frames so that their feedback chains overlap: fetch(), a FilterRun over the fetched
    // frames, then finishRun().

    /// Raw stored frames into left and (stereo only) right; returns how many, 0..n (n ≤ kMaxRunFrames).
    int fetch(float* left, float* right, int n);
    /// The filters in locals for a run; finish() hands them back. Nothing else may touch the looper
    /// meanwhile.
    class FilterRun;
    /// The gain over the first `playing` frames, a mono sample on both sides, and silence after them.
    void finishRun(float* left, float* right, int n, int playing, float gain);

    bool filtered() const { return filtered_; }
    double position() const { return position_; }
    double length() const { return length_; }
    double speed() const { return speed_; }
    bool stereo() const { return stereo_; }

  private:
    const SampleSlot* slot_;
    bool filtered_;

    double position_ = 0.0;
    double length_ = 0.0;
    // Position is frame × speed rather than a running sum, so that it does not drift and the sample ends
    // after exactly framesToPlay_ frames.
    std::int64_t frame_ = 0;
    std::int64_t framesToPlay_ = 0;
    double speed_ = 0.0;
    bool stereo_ = false;
    const std::int16_t* leftData_ = nullptr;
    const std::int16_t* rightData_ = nullptr;
    ResonantLowpass leftFilter_{0.5f, 1.5f};
    ResonantLowpass rightFilter_{0.5f, 1.5f};
};

class StretchLooper::FilterRun {
  public:
    explicit FilterRun(StretchLooper& looper)
        : looper_(looper), left_(looper.leftFilter_), right_(looper.rightFilter_), stereo_(looper.stereo_) {}

    /// One fetched frame through the filters; a mono sample is filtered once and the right filter rests.
    void filter(float& left, float& right) {
        left = left_.process(left);
        if (stereo_)
            right = right_.process(right);
    }

    void finish() {
        looper_.leftFilter_ = left_;
        looper_.rightFilter_ = right_;
    }

  private:
    StretchLooper& looper_;
    ResonantLowpass left_, right_;
    const bool stereo_;
};

} // namespace vexla
