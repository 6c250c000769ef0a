// Zintor's synth engine: the shuffled step sequencer, the seven voices, the stereo tempo delay, the mix,
// the 16-bit output and the peak meters.
//
// How the window thread and the render meet; there is no other way:
// - Continuous values (`params`, each voice's sound controls, the kick's controls, the noise presets and
//   the recorder) are relaxed atomics that the window writes whole; the render reads them into one plain
//   snapshot at the start of each block and again at each step start, and hands the units their part.
// - Everything else (a generator's new phrase, a scene or undo, the delay reset) is a change posted to
//   one mailbox: built on the window thread, applied by the render in posting order (a scene waits for
//   the next step boundary, so that the loop stays in time), destroyed back on the window thread.
// - The render reports the peaks and the playing step through atomics in `params`.
// - MIDI goes out on the bus set with setMidi() and the steps follow the master set with setMaster():
//   pointers the render reads once per block; MIDI never changes the sound.
// renderBlock() on the audio thread only; everything else on the window thread.
#pragma once

#include "common/DcFilter.h"
#include "common/Mailbox.h"
#include "common/NoCopy.h"
#include "common/Random.h"
#include "common/StepMaster.h"
#include "zintor/engine/KickDrum.h"
#include "zintor/engine/NoiseDrum.h"
#include "zintor/engine/SynthLines.h"
#include "zintor/engine/SynthMidiOut.h"
#include "zintor/engine/SynthParams.h"
#include "zintor/engine/SynthState.h"
#include "zintor/engine/SynthVoice.h"
#include "zintor/engine/TempoDelay.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>

namespace common {
class WavRecorder;
}

namespace zintor {

inline constexpr int kSampleRate = 44100;
/// samplesPerStep = kStepFramesPerMinute / BPM: a sixteenth note at 44100 frames per second.
inline constexpr int kStepFramesPerMinute = 661500;
/// The largest step count the voices' phrase storage can play.
inline constexpr int kMaxStepCount = kPhraseSteps;

/// The three synth voices, in the order that fixes the sequence of the render's random draws.
enum SynthVoiceIndex : int { kSynthLine1 = 0, kSynthLine2 = 1, kSubBass = 2, kSynthVoices = 3 };

/// Everything the render reads from the window's atomics, read once per block and at each step start.
struct BlockParams {
#define ZN_PLAIN_FIELD(type, name, start) type name = start;
    ZINTOR_CONTROL_FIELDS(ZN_PLAIN_FIELD)
#undef ZN_PLAIN_FIELD
    bool playing = false;
    VoiceParams voices[kSynthVoices];
    float delaySends[2] = {0.5f, 0.5f}; ///< the two synth lines' sends, kept for the whole block
    KickParams kick;
    NoiseParams hit;
    NoiseParams snare;
    NoiseParams hat;
};

struct PhraseChange;
struct StateChange;
struct DelayReset;

class SynthEngine : common::NoCopy {
  public:
    SynthEngine();

    /// Fills lengthBytes / 4 interleaved signed 16-bit stereo frames. Always returns true.
    /// The stream callback: lengthBytes is the buffer size in bytes; fewer than 4 bytes writes nothing.
    bool renderBlock(void* buffer, int lengthBytes);

    /// Clears the delay lines and places their taps 3 and 2 × samplesPerStep behind the write index,
    /// through the mailbox. Start-up only; a later tempo change does not move the taps.
    void resetDelay();

    /// Hands `phrase` to voice `voice` (kSynthLine1..kSubBass), heard from its next step on; a
    /// `cutoffNowPreset` of 0 or more also sets the voice's smoothed cutoff.
    void sendPhrase(int voice, const PhraseState& phrase, float cutoffNowPreset = -1.0f);
    /// The phrase last sent to `voice`: what it plays once the mailbox has delivered it.
    const PhraseState& phrase(int voice) const { return sentPhrases_[voice]; }

    /// Hands over the parts `parts` of `state`, taken whole by the render at the start of the next step
    /// (before the voices are struck), or at the next block while stopped, so that the loop continues
    /// in time. A control the window sets after this call keeps the window's value.
    void postState(const SynthState& state, unsigned parts);
    /// True while a posted state waits; then `posted` holds what the waiting posts set, `before` what
    /// those controls held when first posted, and `parts` which parts they cover.
    bool statePending(SynthState& posted, SynthState& before, unsigned& parts) const;

    /// Only while no render runs (start-up, the command line, tests): applies every waiting change now.
    void settle();

    /// The recorder the render hands every output chunk to; null for none. A recorder that is unhooked
    /// may still get the frames of the block in progress, which WavRecorder allows while it finishes.
    void setRecorder(common::WavRecorder* recorder) { recorder_.store(recorder, std::memory_order_relaxed); }

    /// The bus the render sends what it plays to, as MIDI clock and notes (synth line 1 on channel 1,
    /// line 2 on 2, the sub bass on 3, the drums on 10); null for none. The bus must outlive its use: a
    /// bus that is unhooked may still get the block in progress.
    void setMidi(common::MidiBus* bus) { midi_.store(bus, std::memory_order_relaxed); }
    /// The clock the steps follow instead of the engine's own tempo, its frames the bus's stream frames;
    /// null for the engine's own clock. While one is set the engine plays from the master's Play to its
    /// Stop, each step on the master's sixteenth (the shuffle still moves the odd ones); the window's
    /// play switch has no say meanwhile. Window thread.
    void setMaster(common::StepMaster* master);

    /// Sequencer position (audio thread, or any thread while no render runs).
    int currentStep() const { return currentStep_; }
    /// A synth voice as the render has it (audio thread, or any thread while no render runs).
    const SynthVoice& voice(int index) const { return voices_[index]; }

    /// Length in frames of the step with the given (not yet wrapped) index after groove shuffle:
    /// even steps are lengthened and odd steps shortened by shuffleAmount/256 of a step.
    static int stepLength(int index, int samplesPerStep, int shuffleAmount);
    /// Frames the groove shuffle adds to an even step and takes from the odd one after it, for unshuffled
    /// steps `stepFrames` long.
    static int shuffleShift(double stepFrames, int shuffleAmount);

    SynthParams params;
    VoiceControls synthLine1;
    VoiceControls synthLine2;
    VoiceControls subBass;
    KickControls kick;
    NoiseControls hitVoice;
    NoiseControls snareVoice;
    NoiseControls hatVoice;

  private:
    friend struct PhraseChange;
    friend struct StateChange;
    friend struct DelayReset;

    /// Frames the voices render in one go; a chunk also ends where a step ends.
    static constexpr int kChunkFrames = SynthLines::kMaxFrames;

    void readParams();
    void startStep();
    /// Renders `frames` playing frames (1..kChunkFrames, within one step) into `out`.
    void renderChunk(std::int16_t* out, int frames);
    void advanceClock(int frames);
    void holdPeaks(const std::int16_t* frames, int count);

    // MIDI out and following a master; none of it changes what the voices do.
    void sendMidi(common::MidiBus& bus, int frame, bool stepBegins);
    void sendSynthNote(common::MidiBus& bus, int frame, int voice, int length);
    void restrikeHeldNotes(common::MidiBus& bus, int frame);
    int nextStep() const;
    void beginFollowing(common::MidiBus* bus, int frames, bool newBus);
    int takeTransport(int frame, int count);
    int followedStepLength(int frame, bool stepBegins);
    int stepOfSixteenth(std::int64_t sixteenth) const;

    // Render side: the units and the sequencer, touched by the audio thread (or by changes it applies).
    BlockParams block_;
    common::DcFilter dcLeft_, dcRight_; ///< the output's DC blockers, before the clip
    SynthVoice voices_[kSynthVoices];
    KickDrum kickDrum_;
    NoiseDrum hitDrum_;
    NoiseDrum snareDrum_;
    NoiseDrum hatDrum_;
    TempoDelay delay_;
    common::Random random_; // the audio thread's own generator: starts at 1, never seeded
    int currentStep_ = 0;
    int sampleInStep_ = 0;
    int currentStepLength_; // the first step has the start tempo's length
    int peakLeft_ = 0;
    int peakRight_ = 0;
    float heldLeft_ = 0.0f; // the last playing frame's mix, repeated if playing stops within a block
    float heldRight_ = 0.0f;
    std::atomic<common::WavRecorder*> recorder_{nullptr};
    /// Drums struck by the last startStep(), as bits 1 << kMidiKick, kMidiHit, kMidiSnare, kMidiHat.
    unsigned struck_ = 0;

    std::atomic<common::MidiBus*> midi_{nullptr};
    common::MidiBus* midiBus_ = nullptr; // the bus of the last block
    SynthMidiOut midiOut_;
    bool midiPlaying_ = false; // what the bus was last told: playing or stopped

    std::atomic<common::StepMaster*> master_{nullptr};
    /// Counts the stream's frames for a master while no bus is set (made by setMaster()).
    std::unique_ptr<common::MidiBus> ownBus_;
    common::StepMaster* followed_ = nullptr; // the master of this block, or null
    bool masterPlaying_ = false;             // between its Play and its Stop
    bool relocated_ = false;                 // a Play came while it played
    std::int64_t masterSixteenth_ = 0;       // the master's sixteenth the current step plays
    std::int64_t stepStartFrame_ = 0;        // stream frame where the current step began
    std::int64_t blockStart_ = 0;            // stream frame of this block's first frame
    std::int64_t blockEnd_ = 0;              // and of the frame after its last
    common::TransportEvent event_;           // the next transport change, taken from the master
    bool eventWaiting_ = false;

    // Scratch for one chunk, one buffer per signal.
    SynthLines lines_; // holds the three synth voices' samples
    float kickOut_[kChunkFrames];
    float hitOut_[kChunkFrames];
    float snareOut_[kChunkFrames];
    float hatOut_[kChunkFrames];
    int noiseDraws_[3 * kChunkFrames]; // hit, snare, hat interleaved per frame, as the render draws them
    float echoLeft_[kChunkFrames];
    float echoRight_[kChunkFrames];
    float mix_[2 * kChunkFrames]; // left and right before the 16-bit conversion

    // Window side.
    common::Mailbox<SynthEngine> mailbox_;
    PhraseState sentPhrases_[kSynthVoices];
    /// Posted states the render may not have applied yet, oldest first (window thread only).
    struct UnappliedState {
        std::uint64_t number;
        SynthState before;
        SynthState target;
        unsigned parts;
    };
    std::deque<UnappliedState> unappliedStates_;
    std::uint64_t statesPosted_ = 0;
    std::atomic<std::uint64_t> statesApplied_{0}; // counted by the render
};

} // namespace zintor
