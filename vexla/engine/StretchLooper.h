// Sample player that stretches its slot's sample over one pass of the sequence, optionally through a
// resonant low-pass per channel. restart(), stop() and render() on the audio thread (stop() also from
// the loader while it holds engineLock); alterSecondLooper() and vcfFilterFromSliders() on any thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/Random.h"
#include "vexla/engine/ResonantLowpass.h"
#include "vexla/engine/StereoFrame.h"

namespace vexla {

struct SampleSlot;

class StretchLooper {
public:
    /// `slot` must outlive the looper; `filtered` makes it a VCF looper with a filter per channel.
    explicit StretchLooper(const SampleSlot& slot, bool filtered = false) : slot_(&slot), filtered_(filtered) {}
    StretchLooper(const StretchLooper&) = delete;
    StretchLooper& operator=(const StretchLooper&) = delete;

    /// Starts the slot's sample afresh so that it spans stepCount × samplesPerStep frames.
    /// Captures the slot's arrays, length and stereo flag; the slot is not read again until the next restart.
    void restart(int stepCount, int samplesPerStep);

    /// Silences the looper until the next restart (position and length 0). The loader calls this under
    /// engineLock before it replaces any slot's arrays, so no captured array outlives its slot.
    void stop();

    /// One frame with the filters (if any) set to cutoff 0.05..0.95 and feedback; gain applied to both sides.
    StereoFrame render(float gain, float cutoff, float feedback);

    /// One frame; a VCF looper keeps the filter settings it last had.
    StereoFrame render(float gain);

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

/// The second looper's effect sends, rewritten by alterSecondLooper on the window thread while the render reads.
struct SecondLooperSends {
    std::atomic<float> secondLooperEchoSend{0.0f}; ///< 0..1.99609375, on both channels
    std::atomic<float> secondLooperAmSend{0.0f};   ///< 0..1.99609375, left channel into the ring modulator
};

/// "2nd Looper": draws the echo send, then the ring-modulator send, each randomBelow(512) / 256.
void alterSecondLooper(SecondLooperSends& sends, common::Random& random);

/// One VCF looper's filter values from its two slider positions.
struct VcfFilterSetting {
    float cutoff;   ///< c = position / 128, forced into 0.05..0.95
    float feedback; ///< q + q / (1 − c), q = resonance position / 128 forced into 0.05..0.95
};

/// cutoffPosition and resonancePosition are slider positions 0..128.
VcfFilterSetting vcfFilterFromSliders(int cutoffPosition, int resonancePosition);

} // namespace vexla
