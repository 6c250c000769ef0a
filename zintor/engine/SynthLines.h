// The render of the three synth voices (synthLine1, synthLine2, subBass): side by side, one voice per SSE
// lane, each lane doing the float and double operations of one voice in the order that the recorded
// renders were made with. render() on the audio thread only.
//
// Hand-written SIMD because it pays: the whole engine renders about 1.9x as fast as with the three voices
// rendered one after another (bench/README.md).
#pragma once

#include "zintor/engine/SynthVoice.h"

namespace zintor {

class SynthLines {
  public:
    static constexpr int kVoices = 3;
    static constexpr int kMaxFrames = 256;

    /// Renders `frames` (1..kMaxFrames) samples of the three voices with their parameters and amplitude
    /// ramps; sample() reads them back until the next render.
    void render(SynthVoice* const voices[kVoices], const VoiceParams params[kVoices],
                const float ramps[kVoices], int frames);

    /// Sample `frame` of voice `voice` (0..2) of the last render.
    float sample(int frame, int voice) const { return samples_[kLanes * frame + voice]; }

  private:
    static constexpr int kLanes = 4; // the fourth repeats the sub bass so that it computes ordinary numbers
    struct Lanes;
    struct Constants;

    static Constants makeConstants(SynthVoice* const voices[kVoices], const VoiceParams params[kVoices],
                                   const float ramps[kVoices]);
    static void loadLanes(SynthVoice* const voices[kVoices], Lanes& lanes);
    static void storeLanes(Lanes& lanes, SynthVoice* const voices[kVoices]);
    void renderTargets(Lanes& lanes, const Constants& constants, int frames);
    void renderSamples(Lanes& lanes, const Constants& constants, int frames);

    alignas(16) float targets_[kLanes * kMaxFrames]; // the clamped cutoff target per frame and lane
    alignas(16) float samples_[kLanes * kMaxFrames]; // the voices' output per frame and lane
};

} // namespace zintor
