// The loop engine: step clock, units, mix bus, clip stage, 16-bit output and recorder tap.
// renderBlock() on the audio thread; the generate/alter randomisers on the window thread (or, for the
// five requested ones, inside the render).
#pragma once

#include "common/Random.h"
#include "common/StateHandOver.h"
#include "vexla/engine/BassVoice.h"
#include "vexla/engine/EchoUnit.h"
#include "vexla/engine/EngineParams.h"
#include "vexla/engine/HatVoice.h"
#include "vexla/engine/KickVoice.h"
#include "vexla/engine/ParamSnapshot.h"
#include "vexla/engine/RingModulator.h"
#include "vexla/engine/RunFrames.h"
#include "vexla/engine/SceneState.h"
#include "vexla/engine/SecondLooperSends.h"
#include "vexla/engine/SineVoice.h"
#include "vexla/engine/SlicerVoice.h"
#include "vexla/engine/StretchLooper.h"
#include "vexla/samples/SampleSlot.h"

#include <atomic>
#include <cstdint>
#include <mutex>

namespace common {
class WavRecorder;
}

namespace vexla {

inline constexpr int kSampleRate = 44100;
/// Output clip level: ±32766, not ±32767.
inline constexpr float kClipLevel = 32766.0f;

/// Clips one channel value to ±32766 (NaN gives −32766), setting `clipped` when it had to.
/// Then rounds v − 0.5 to the nearest integer, ties to even, in double precision.
std::int16_t clipAndConvert(float v, bool& clipped);

class LoopEngine {
  public:
    /// Large (two 256 KiB echo lines): create it on the heap, before the stream starts.
    LoopEngine();
    LoopEngine(const LoopEngine&) = delete;
    LoopEngine& operator=(const LoopEngine&) = delete;

    /// The stream callback: takes engineLock for the whole block, fills lengthBytes / 4 frames of
    /// little-endian 16-bit stereo. Under 4 bytes the buffer is left untouched.
    void renderBlock(void* buffer, int lengthBytes);

    // Randomisers. `random` is the calling thread's generator (the window's, or audioRandom inside the
    // render). Each reads stepCount / samplesPerStep from params.
    void generateBass1(common::Random& random);
    void generateBass2(common::Random& random);
    void generateKick(common::Random& random);
    void generateHats(common::Random& random); ///< audio thread only (served request)
    void generateSine(common::Random& random); ///< served request, or once before the stream starts
    void alterAm(common::Random& random);
    void alterEcho(common::Random& random);
    void alterSecondLooper(common::Random& random);
    void generateSlicer(common::Random& random);
    /// generateBass1, generateBass2, generateKick, alterSecondLooper, generateSlicer, in this order.
    void regenerateAll(common::Random& random);

    /// The loader's hook: silences the four stretch loopers until their next restart. Caller holds
    /// engineLock.
    void stopLoopers();

    /// The recorder the tap hands frames to while params.recording is set; null for none.
    /// Set it before the stream starts or while holding engineLock.
    void setRecorder(common::WavRecorder* recorder) { recorder_.store(recorder, std::memory_order_relaxed); }

    /// Window thread: hands over the parts `parts` of `state`, taken by the render at the start of the
    /// next step (before its tables are loaded), or at the next frame while stopped, so that the loop
    /// continues in time. A hand-over not yet taken is merged with this one (the newer parts win).
    void postScene(const SceneState& state, unsigned parts);
    /// Window thread: true while a posted state waits; then `posted` and `parts` tell what it holds.
    bool scenePending(SceneState& posted, unsigned& parts) const;
    /// Takes a posted state now: the render's own call, or a caller that holds engineLock. True when
    /// there was one.
    bool takePostedScene();

    /// Clock state; read on the audio thread or while no render runs.
    int currentStep() const { return currentStep_; }
    int sampleInStep() const { return sampleInStep_; }

    EngineParams params;
    /// Keeps the render away from slot arrays and the recorder's file while the window replaces them.
    /// Every holder keeps it briefly: the render waits for it.
    std::mutex engineLock;

    // The loader's five sample slots; the players read them.
    SampleSlot drySlot;
    SampleSlot secondSlot;
    SampleSlot slicerSlot;
    SampleSlot vcf1Slot;
    SampleSlot vcf2Slot;

    BassVoice bass1{BassKind::Bass1};
    BassVoice bass2{BassKind::Bass2};
    KickVoice kick;
    HatVoice hats;
    SineVoice sine;
    StretchLooper dryLooper{drySlot};
    StretchLooper secondLooper{secondSlot};
    StretchLooper vcf1Looper{vcf1Slot, true};
    StretchLooper vcf2Looper{vcf2Slot, true};
    SlicerVoice slicer{slicerSlot};
    SecondLooperSends secondLooperSends;
    RingModulator ringModulator;
    EchoUnit echo;

    /// The audio thread's generator: starts at 1, never seeded; hi-hat noise and served requests draw from
    /// it.
    common::Random audioRandom{1};

  private:
    /// Renders up to maxFrames frames (1..kMaxRunFrames), stopping at the end of the step; returns how many.
    int renderRun(std::int16_t* out, int maxFrames);
    /// The step boundary: takes a posted scene, loads the units, restarts loopers, triggers the kick,
    /// advances the step and serves pending requests with audioRandom.
    void triggerStep();
    /// Every unit's lines for n frames of one step, whose first frame has the advanced counter firstCounter.
    void renderUnits(int n, int firstCounter);
    /// The ring modulator's input and output and the echo's sends, from the units' lines.
    void mixSends(int n);
    /// The master mix of every line, clipped and converted into out.
    void mixOutput(std::int16_t* out, int n);
    /// The output run (interleaved left, right) handed to the peak meters and, while recording, to the recorder.
    void tapRun(const std::int16_t* out, int n);

    /// One run's lines, each holding one thing; members rather than locals to keep the audio thread's
    /// stack small. Voices and the modulator are in sample units with their volume applied.
    struct RunLines {
        float bass1[kMaxRunFrames], bass2[kMaxRunFrames], kick[kMaxRunFrames], hats[kMaxRunFrames],
            sine[kMaxRunFrames];
        float dryLeft[kMaxRunFrames], dryRight[kMaxRunFrames], secondLeft[kMaxRunFrames],
            secondRight[kMaxRunFrames];
        float vcf1Left[kMaxRunFrames], vcf1Right[kMaxRunFrames], vcf2Left[kMaxRunFrames],
            vcf2Right[kMaxRunFrames];
        float slicerLeft[kMaxRunFrames], slicerRight[kMaxRunFrames];
        float modulatorInput[kMaxRunFrames], modulated[kMaxRunFrames];
        float sendLeft[kMaxRunFrames], sendRight[kMaxRunFrames], echoLeft[kMaxRunFrames],
            echoRight[kMaxRunFrames];
        float mixLeft[kMaxRunFrames], mixRight[kMaxRunFrames];
    };
    RunLines lines_{};
    ParamSnapshot snapshot_;

    std::int32_t sampleInStep_ = 0;
    std::int32_t currentStep_ = 0;
    std::atomic<common::WavRecorder*> recorder_{nullptr};
    std::int32_t peakLeft_ = 0;
    std::int32_t peakRight_ = 0;
    bool recordedRun_ = false; ///< some frames of this block went to the recorder

    // The hand-over slot: the window owns it in Idle and Writing, the render in Applying.
    common::StateHandOver<SceneState> posted_;
};

} // namespace vexla
