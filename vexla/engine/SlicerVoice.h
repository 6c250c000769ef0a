// Sample player that jumps at every step to one of 256 equal slices of its slot's sample, with a per-step
// decay. stepLoad() and render() on the audio thread; its pattern comes from the engine (generate() runs on
// the window thread into the window's copy, which the engine's mailbox brings to the render).
#pragma once

#include "common/NoCopy.h"
#include <array>
#include <cstdint>

#include "common/Random.h"
#include "vexla/engine/SceneState.h"

namespace vexla {

struct SampleSlot;

class SlicerVoice : common::NoCopy {
  public:
    static constexpr int kMaxSteps = 64;
    static constexpr int kSliceDivisions = 256;

    /// `slot` must outlive the voice; the voice reads it on every frame (a swap replaces it only inside the
    /// render).
    explicit SlicerVoice(const SampleSlot& slot) : slot_(&slot) {}

    /// Step start: takes the step's decay and jumps to its slice. step is currentStep, 0..63.
    void stepLoad(int step);

    /// n frames (1..kMaxRunFrames) into left and right: one stored frame per output frame, times the
    /// envelope and gain.
    /// A mono sample sounds on both sides; past the sample's end the frames are silent.
    void render(float* left, float* right, int n, float gain);

    /// "Slicer": the two sends, then stepCount decays, then stepCount slice numbers, in that draw order.
    static void generate(SlicerPattern& pattern, common::Random& random, int stepCount);

    /// Start frame of slice `slice` (0..255) in a sample of `length` frames: slice × length / 256,
    /// truncated, without overflow for any int32 length.
    static std::int32_t slicePosition(std::int32_t slice, std::int32_t length);

    /// Slice numbers (0..249) and decays per step, echo send and ring-modulator send (0..0.83 each).
    SlicerPattern pattern;

    std::int32_t position() const { return position_; }
    float env() const { return env_; }

  private:
    const SampleSlot* slot_;
    std::int32_t position_ = 0;
    float env_ = 0.0f;
    float decay_ = 1.0f;
};

} // namespace vexla
