// The loop engine: step clock, units, mix bus, clip stage, 16-bit output and recorder tap.
// renderBlock() on the audio thread; everything else on the window thread (the thread that owns the
// engine), except the five requested randomisers, which the render serves itself.
//
// Between the threads: the window writes the control values of `params` (relaxed atomics), which the
// render reads once per block into a ParamSnapshot, and reads back its reports (peaks, playing step,
// clip, recorded bytes). Everything else the window sends — re-rolled patterns, requests, the echo's
// read position, scenes and undo steps, sample swaps — is a change posted to the engine's mailbox
// (common/Mailbox.h): applied by the render in posting order at the start of a block (a scene at the
// next step boundary), then destroyed on the window thread, so that the render never allocates or frees.
//
// A re-roll on the window thread draws from the window's generator into the window's own copy of the
// patterns (sentPatterns(), what scenes and undo capture) and posts the new pattern; the render takes it
// at the start of its next block. A request is served by the render at a step boundary with its own
// generator; the pattern it drew goes back in room the request carries, and reaches sentPatterns() when
// the window collects. Units hold plain values that only the render touches.
//
// Beside the sound: with a MIDI bus attached (setMidi) the render plays its clock and the voices' notes
// on it, each on its frame, without changing a sample; with a master set (setMaster) its steps fall on
// the master's sixteenths.
#pragma once

#include "common/DcFilter.h"
#include "common/Mailbox.h"
#include "common/MidiBus.h"
#include "common/NoCopy.h"
#include "common/Random.h"
#include "common/StepMaster.h"
#include "vexla/engine/BassVoice.h"
#include "vexla/engine/EchoUnit.h"
#include "vexla/engine/EngineParams.h"
#include "vexla/engine/HatVoice.h"
#include "vexla/engine/KickVoice.h"
#include "vexla/engine/MidiOut.h"
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
#include <deque>
#include <memory>

namespace common {
class WavRecorder;
}

namespace vexla {

inline constexpr int kSampleRate = 44100;

/// The randomisers the render serves at a step boundary, in the order it serves them.
enum class Request { Hats, Sine, Bass1, Bass2, Kick };
inline constexpr int kRequestCount = 5;
/// The scene part a request re-rolls.
unsigned scenePartOf(Request which);
/// Draws the pattern of the voice `which` asks for into `patterns` from `random`: the one generator call
/// of each voice, for the render's served requests and the window's own re-rolls alike.
void rollVoice(Request which, SceneState& patterns, common::Random& random, int stepCount,
               int samplesPerStep);
/// Output clip level: ±32766, not ±32767.
inline constexpr float kClipLevel = 32766.0f;

/// Clips one channel value to ±32766 (NaN gives −32766), setting `clipped` to 1 when it had to (an int,
/// so that a loop of them vectorises). Then rounds v − 0.5 to the nearest integer, ties to even, as
/// lrint of the difference in double precision would.
std::int16_t clipAndConvert(float v, int& clipped);

class LoopEngine : common::NoCopy {
  public:
    /// Large (two 256 KiB echo lines): create it on the heap, before the stream starts.
    LoopEngine();

    /// The stream callback: serves the mailbox, then fills lengthBytes / 4 frames of little-endian
    /// 16-bit stereo. Under 4 bytes the buffer is left untouched.
    void renderBlock(void* buffer, int lengthBytes);

    // Randomisers on the window thread, with the window's generator `random`: each draws into
    // sentPatterns() and posts the result (taken at the render's next block). Each reads stepCount /
    // samplesPerStep from params.
    void generateBass1(common::Random& random);
    void generateBass2(common::Random& random);
    void generateKick(common::Random& random); ///< also silences the kick's first partial until its trigger
    void generateHats(common::Random& random);
    void generateSine(common::Random& random);
    void alterAm(common::Random& random);
    void alterEcho(common::Random& random);
    void alterSecondLooper(common::Random& random);
    void generateSlicer(common::Random& random);
    /// generateBass1, generateBass2, generateKick, alterSecondLooper, generateSlicer, in this order.
    void regenerateAll(common::Random& random);

    /// Silences the four stretch loopers until their next restart. Audio thread (a sample swap), or
    /// while no render runs.
    void stopLoopers();

    /// The recorder the tap hands frames to while params.recording is set; null for none.
    /// Set it before the stream starts or while no render runs.
    void setRecorder(common::WavRecorder* recorder) { recorder_.store(recorder, std::memory_order_relaxed); }
    /// The MIDI bus the render plays its clock and notes on; null for none. Any time: the render reads it
    /// once per block, and a new bus hears the clock from the next step on.
    void setMidi(common::MidiBus* bus) { midiBus_.store(bus, std::memory_order_relaxed); }
    /// The clock the steps follow instead of the tempo control; null for the engine's own. Any time: the
    /// render reads it once per block, and waits for a new master's Play. While one is set the engine
    /// plays when the master plays and Run is on, each step on the master's sixteenth that it plays
    /// (step = sixteenth mod stepCount); the tempo control still sets the loopers, echo and generators.
    void setMaster(common::StepMaster* master) { master_.store(master, std::memory_order_relaxed); }

    /// Hands the render a change: applied in posting order at the start of the next block, or at the
    /// next step boundary (the next block while stopped) when it asks for one.
    void post(std::unique_ptr<common::Change<LoopEngine>> change);
    /// Window thread: asks the render for `which`, served at its next step boundary with audioRandom
    /// (several at one boundary in Request's order; a second ask before the first is served is the same
    /// ask).
    void request(Request which);
    /// Window thread: true while a request for `which` is posted and not yet served.
    bool requestPending(Request which) const;
    /// Window thread: withdraws the requests of the voices in `parts` not yet served.
    void cancelRequests(unsigned parts);
    /// Window thread: posts the requests whose flags in params are set (the command line's
    /// "--set requestX=1"), clearing them.
    void postFlaggedRequests();
    /// Only while no render runs: serves every posted or flagged request at once, in Request's order,
    /// with the window's generator `random` (as the window's own re-rolls), so that a scene saved before
    /// the first frame holds them.
    void serveRequestsNow(common::Random& random);

    /// Frees the changes the render has applied (old sample arrays among them) and takes the patterns of
    /// the requests it has served into sentPatterns(). The window's timer.
    void collectChanges();
    /// Only while no render runs: applies every posted change now.
    void settleChanges() { mailbox_.settle(*this); }

    /// Hands over the parts `parts` of `state`, taken by the render at the start of the next step
    /// (before its tables are loaded), or at the next block while stopped, so that the loop continues in
    /// time. Posts not yet taken are applied in order, the newer parts winning.
    void postScene(const SceneState& state, unsigned parts);
    /// True while a posted state waits; then `posted` and `parts` tell what the waiting posts hold.
    bool scenePending(SceneState& posted, unsigned& parts) const;

    /// Puts `loaded` (arrays, length, loop and name) into `slot`, one of the five slots below, at the
    /// start of the next block with the loopers stopped; the slot's old arrays come back to be freed here.
    void swapSample(SampleSlot& slot, SampleSlot&& loaded);
    /// Empties `slot` the same way.
    void emptySample(SampleSlot& slot);

    /// Sets the echo's read position (writes restart at 65535), as "Echo Alter" does.
    void setEchoReadPos(std::int32_t readPos);
    /// The echo setting as the window last set it (posted or taken): what a scene keeps of the echo.
    std::int32_t echoReadPos() const { return echoReadPos_; }
    /// Window thread: the patterns as the window last sent them (re-rolled, posted in a scene or applied),
    /// taken or not yet, with the served requests it has collected: what a scene keeps of them.
    const SceneState& sentPatterns() const { return sentPatterns_; }
    /// Window thread: puts the pattern parts of `parts` of `state` into sentPatterns() and posts them,
    /// taken at the start of the next block.
    void sendPatterns(const SceneState& state, unsigned parts);

    /// Clock state; read on the audio thread or while no render runs.
    int currentStep() const { return currentStep_; }
    int sampleInStep() const { return sampleInStep_; }

    EngineParams params;

    // The loader's five sample slots; the players read them. Swapped only through swapSample (or while
    // no render runs).
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
    SecondLooperSetting secondLooperSends;
    RingModulator ringModulator;
    EchoUnit echo;

    /// The audio thread's generator: starts at 1, never seeded; hi-hat noise and served requests draw from
    /// it.
    common::Random audioRandom{1};

    /// Room for a request's result: filled by the render, read on the window thread once `status` says so.
    struct RequestResult {
        Request which = Request::Hats;
        SceneState state;                     ///< the served pattern, in which's part
        std::uint64_t patternChangesSeen = 0; ///< pattern changes the render had applied when it served
        std::atomic<int> status{kWaiting};
        bool withdrawn = false; ///< window thread: a later change of the window replaces it
        static constexpr int kWaiting = 0, kServed = 1, kDropped = 2;
    };

  private:
    friend class SceneChange;
    friend class PatternChange;
    friend class RequestChange;
    friend class RequestCancel;

    /// Renders up to maxFrames frames (1..kMaxRunFrames), stopping at the end of the step; returns how many.
    int renderRun(std::int16_t* out, int maxFrames);
    /// The step boundary: takes a posted scene, loads the units, restarts loopers, triggers the kick,
    /// advances the step and serves pending requests with audioRandom.
    void triggerStep();
    /// The requests taken from the mailbox, in Request's order, with audioRandom (at a step boundary).
    void serveRequests();
    /// Window thread: rolls `which` on top of sentPatterns() and posts it (the kick also silenced).
    void rollAndSend(Request which, common::Random& random);
    /// Posts a change that writes the pattern parts `parts`, counting it for the requests' results.
    void postPatternChange(std::unique_ptr<common::Change<LoopEngine>> change, unsigned parts);
    /// Serves the mailbox; true when some change was applied (then the snapshot is read again).
    void serveChanges(bool atStepBoundary);
    /// Every unit's lines for n frames of one step, whose first frame has the advanced counter firstCounter;
    /// the counter reads 0 once past samplesPerStep.
    void renderUnits(int n, int firstCounter, int samplesPerStep);
    /// The basslines, the hi-hats and the VCF loopers, frame by frame together (part of renderUnits).
    void renderFeedbackChains(int n, int firstCounter, int samplesPerStep);
    /// A run while a master is set: its transport changes taken, its sixteenths as the steps.
    int renderFollowedRun(std::int16_t* out, int maxFrames);
    /// The master's transport change `event_`, due now; then the next one of this block, if any.
    void takeTransportEvent();
    /// n silent frames: the engine stands still (stopped, or waiting for the master).
    int renderSilence(std::int16_t* out, int n);
    /// n frames (within the step) of a step samplesPerStep + 1 frames long.
    int renderStepFrames(std::int16_t* out, int n, int samplesPerStep);
    /// The MIDI of the step that has just begun on frame `frameInBlock`: `step` is the step it loaded,
    /// `position` its song position in sixteenths, and it lasts samplesPerStep + 1 frames.
    void beginMidiStep(int frameInBlock, int step, std::int64_t position, int samplesPerStep);
    /// The ring modulator's input and output and the echo's sends, from the units' lines.
    void mixSends(int n);
    /// The master mix of every line, clipped and converted into out.
    void mixOutput(std::int16_t* out, int n);
    /// The output run (interleaved left, right) handed to the peak meters and, while recording, to the
    /// recorder.
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
    common::DcFilter dcLeft_, dcRight_; ///< the output's DC blockers, before the clip

    std::int32_t sampleInStep_ = 0;
    std::int32_t currentStep_ = 0;
    std::atomic<common::WavRecorder*> recorder_{nullptr};
    std::atomic<common::MidiBus*> midiBus_{nullptr};
    // Render only: the bus of this block and of the last one, the clock and the notes played on it, and
    // the frame of the block where the current run begins.
    common::MidiBus* midi_ = nullptr;
    common::MidiBus* lastMidi_ = nullptr;
    MidiOut midiOut_;
    int runFrame_ = 0;

    std::atomic<common::StepMaster*> master_{nullptr};
    // Render only: following a master. Its frames count on the MIDI bus, or on spareBus_ when none is
    // attached (a master that needs no MIDI is followed all the same).
    struct Following {
        common::StepMaster* master = nullptr; ///< this block's; null: the engine's own clock
        common::StepMaster* lastMaster = nullptr;
        common::MidiBus* bus = nullptr; ///< the bus the master's frames count on
        std::int64_t blockStart = 0, blockEnd = 0;
        bool eventDue = false; ///< `event` is the next transport change of this block
        common::TransportEvent event;
        bool playing = false;           ///< the master plays: a Play taken, no Stop since
        bool inStep = false;            ///< the engine plays a step it began on the master's sixteenth
        std::int64_t nextSixteenth = 0; ///< the sixteenth that begins at the next boundary
        std::int64_t entryFrame = -1;   ///< after a Play: the frame of that boundary
        std::int64_t stepStart = 0;     ///< stream frame where the current step began
    };
    Following follow_;
    common::MidiBus spareBus_;
    std::int32_t peakLeft_ = 0;
    std::int32_t peakRight_ = 0;
    bool recordedRun_ = false; ///< some frames of this block went to the recorder

    common::Mailbox<LoopEngine> mailbox_;
    // Window thread only: the echo setting as last sent, and the scenes posted and not yet known taken.
    std::int32_t echoReadPos_;
    SceneState sentPatterns_;
    std::deque<std::unique_ptr<RequestResult>> requests_; ///< posted, not yet collected
    std::uint64_t patternChangesPosted_ = 0;
    /// Per request: patternChangesPosted_ when the window last changed its part itself.
    std::uint64_t lastPatternChange_[kRequestCount] = {};
    // Render only: the requests waiting for the next step boundary, and the pattern changes applied.
    RequestResult* requested_[kRequestCount] = {};
    std::uint64_t patternChangesApplied_ = 0;
    std::deque<std::pair<SceneState, unsigned>> postedScenes_;
    std::size_t scenesPosted_ = 0;
    /// Counted by the render as it applies a scene.
    std::atomic<std::size_t> scenesTaken_{0};
};

} // namespace vexla
