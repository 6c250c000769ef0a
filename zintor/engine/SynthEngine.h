// Zintor's synth engine: the parameter block, the seven voices, the shuffled step sequencer, the stereo
// tempo delay, the mix, the 16-bit output and the peak meters. renderBlock() on the audio thread only;
// resetDelay() only while no render runs; params and the voices' sound fields and phrases from any thread;
// postState(), statePending() and settlePostedState() on the window thread only.
#pragma once

#include "common/Random.h"
#include "common/StateHandOver.h"
#include "zintor/engine/KickDrum.h"
#include "zintor/engine/NoiseDrum.h"
#include "zintor/engine/SynthParams.h"
#include "zintor/engine/SynthState.h"
#include "zintor/engine/SynthVoice.h"
#include "zintor/engine/TempoDelay.h"

#include <atomic>
#include <cstdint>

namespace common {
class WavRecorder;
}

namespace zintor {

inline constexpr int kSampleRate = 44100;
/// samplesPerStep = kStepFramesPerMinute / BPM: a sixteenth note at 44100 frames per second.
inline constexpr int kStepFramesPerMinute = 661500;
/// The largest step count the voices' phrase storage can play.
inline constexpr int kMaxStepCount = 256;

class SynthEngine {
  public:
    SynthEngine();
    SynthEngine(const SynthEngine&) = delete;
    SynthEngine& operator=(const SynthEngine&) = delete;

    /// Fills lengthBytes / 4 interleaved signed 16-bit stereo frames. Always returns true.
    /// The stream callback: lengthBytes is the buffer size in bytes; fewer than 4 bytes writes nothing.
    bool renderBlock(void* buffer, int lengthBytes);

    /// Clears the delay lines and places their taps 3 and 2 × samplesPerStep behind the write index.
    /// Called once at start-up; a later tempo change does not move the taps.
    void resetDelay();

    /// Length in frames of the step with the given (not yet wrapped) index after groove shuffle:
    /// even steps are lengthened and odd steps shortened by shuffleAmount/256 of a step.
    int nextStepLength(int index) const;

    /// Sequencer position (audio thread, or any thread while no render runs).
    int currentStep() const { return currentStep_; }

    /// The recorder the render hands every output frame to; null for none. Any thread: a recorder
    /// that is unhooked may still get the frames of the block in progress, which WavRecorder allows
    /// while it finishes.
    void setRecorder(common::WavRecorder* recorder) { recorder_.store(recorder, std::memory_order_relaxed); }

    /// Window thread: hands over the parts `parts` of `state`, taken whole by the render at the start of
    /// the next step (before the voices are struck), or at the next block while stopped, so that the
    /// loop continues in time. A hand-over not yet taken is merged with this one (the newer parts win).
    void postState(const SynthState& state, unsigned parts);
    /// Window thread: true while a posted state waits; then `posted` and `parts` tell what it holds.
    bool statePending(SynthState& posted, unsigned& parts) const;
    /// Window thread: takes a waiting hand-over at once, so that a direct write that follows is not
    /// overwritten by it later; returns when no hand-over is pending or being applied.
    void settlePostedState();

    SynthParams params;

    // The voices, in the order that fixes the sequence of the render's random draws.
    SynthVoice synthLine1;
    SynthVoice synthLine2;
    SynthVoice subBass;
    KickDrum kick;
    NoiseDrum hitVoice;
    NoiseDrum snareVoice;
    NoiseDrum hatVoice;

  private:
    /// Frames the voices render in one go; a chunk also ends where a step ends.
    static constexpr int kChunkFrames = 256;

    void startStep();
    /// Applies a posted state if one waits and the window is not rewriting it. Real-time safe.
    void takePostedState();
    /// Renders `frames` playing frames (1..kChunkFrames, within one step) into `out`; updates the
    /// held values and the clock.
    void renderChunk(std::int16_t* out, int frames, float send1, float send2, float& left, float& right);

    common::Random random_; // the audio thread's own generator: starts at 1, never seeded
    int currentStep_ = 0;
    int sampleInStep_ = 0;
    int currentStepLength_;
    int peakLeft_ = 0;
    int peakRight_ = 0;
    TempoDelay delay_;
    std::atomic<common::WavRecorder*> recorder_{nullptr};

    // The hand-over slot: the window owns it in Idle and Writing, the taker in Applying.
    common::StateHandOver<SynthState> posted_;

    // Scratch for one chunk, one row per voice, and the noise drums' draws interleaved per frame.
    alignas(16) float linesOut_[4 * kChunkFrames]; // the three synth voices, four lanes per frame
    float kickOut_[kChunkFrames];
    int noiseDraws_[3 * kChunkFrames + 1];         // one spare, read by the drums' fourth lane
    alignas(16) float drumsOut_[4 * kChunkFrames]; // hit, snare, hat and an unused lane per frame
    alignas(16) float echoOut_[2 * kChunkFrames];  // the delay's left and right echoes
    alignas(16) float mixOut_[2 * kChunkFrames];   // left and right before the 16-bit conversion
};

} // namespace zintor
