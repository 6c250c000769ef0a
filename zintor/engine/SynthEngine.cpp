// Zintor's render: shuffled step sequencer, seven voices, tempo delay, mix, 16-bit output and peaks;
// and the changes the window posts to it.
#include "zintor/engine/SynthEngine.h"

#include "common/WavRecorder.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace zintor {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr float kSynthLineRamp = 0.05f;
constexpr float kSubBassRamp = 0.001f;
constexpr float kDelayBias = 0.000030517578125f; // 2^−15, fed into the delay with the synth lines
constexpr float kFullScale = 32767.0f;
constexpr int kFillKickDistances[4] = {1, 2, 3, 5}; // steps before the pattern's end
// The tops of the volume controls, which strike a note at full velocity.
constexpr float kLineVolumeTop = 0.4f;
constexpr float kSubBassGainTop = 2.0f;
constexpr float kKickVolumeTop = 0.9f;

/// Clamp to ±32767 and truncate toward zero. A NaN (an unstable filter) gives silence rather than an
/// undefined conversion. Branch-free, so that the compiler converts several at once.
inline std::int16_t toSample(float value) {
    const float clamped = std::min(std::max(value, -kFullScale), kFullScale); // a NaN stays NaN
    const float finite = clamped == clamped ? clamped : 0.0f;
    return static_cast<std::int16_t>(static_cast<int>(finite));
}

/// The generator's state i + 1 draws ahead is kMul[i] × state + kAdd[i] (mod 2^32).
struct LcgJumps {
    std::uint32_t mul[8];
    std::uint32_t add[8];
};

constexpr LcgJumps makeLcgJumps() {
    LcgJumps jumps{};
    std::uint32_t mul = 1;
    std::uint32_t add = 0;
    for (int i = 0; i < 8; ++i) {
        mul *= 214013u;
        add = add * 214013u + 2531011u;
        jumps.mul[i] = mul;
        jumps.add[i] = add;
    }
    return jumps;
}

constexpr LcgJumps kLcgJumps = makeLcgJumps();

/// The next `count` values of `random`, exactly as that many next() calls give them, but eight at a
/// time from one state instead of as one chain of dependent multiplications.
void drawNoise(common::Random& random, int* out, int count) {
    std::uint32_t state = random.state();
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        for (int j = 0; j < 8; ++j)
            out[i + j] = static_cast<int>(((kLcgJumps.mul[j] * state + kLcgJumps.add[j]) >> 16) & 0x7fffu);
        state = kLcgJumps.mul[7] * state + kLcgJumps.add[7];
    }
    random.seed(state);
    for (; i < count; ++i)
        out[i] = random.next();
}

} // namespace

// ---- Changes the window posts ----------------------------------------------------------------------

/// A generator's phrase for one voice, heard from that voice's next step.
struct PhraseChange final : common::Change<SynthEngine> {
    PhraseChange(int voice, const PhraseState& phrase, float cutoffNowPreset)
        : voice(voice), phrase(phrase), cutoffNowPreset(cutoffNowPreset) {}
    void apply(SynthEngine& engine) override {
        SynthVoice& target = engine.voices_[voice];
        target.phrase = phrase;
        if (cutoffNowPreset >= 0.0f)
            target.state.cutoffNow = cutoffNowPreset;
    }
    int voice;
    PhraseState phrase;
    float cutoffNowPreset;
};

/// A scene or an undo step, taken whole at a step boundary. Each control keeps a value the window set
/// after the post: it is replaced only if it still holds what it held then (`before`).
struct StateChange final : common::Change<SynthEngine> {
    StateChange(const SynthState& state, const SynthState& before, unsigned parts)
        : state(state), before(before), parts(parts) {}
    bool atStepBoundary() const override { return true; }
    void apply(SynthEngine& engine) override {
        replaceControls(engine, state, before, parts);
        engine.statesApplied_.fetch_add(1, std::memory_order_release);
        const VoiceState* voices[kSynthVoices] = {&state.synthLine1, &state.synthLine2, &state.subBass};
        const unsigned phraseParts[kSynthVoices] = {kStateLine1Phrase, kStateLine2Phrase, kStateSubBass};
        for (int i = 0; i < kSynthVoices; ++i)
            if (parts & phraseParts[i])
                engine.voices_[i].phrase = voices[i]->phrase;
    }
    SynthState state;
    SynthState before;
    unsigned parts;
};

struct DelayReset final : common::Change<SynthEngine> {
    explicit DelayReset(int stepFrames) : stepFrames(stepFrames) {}
    void apply(SynthEngine& engine) override { engine.delay_.reset(stepFrames); }
    int stepFrames;
};

// ---- Window side ------------------------------------------------------------------------------------

SynthEngine::SynthEngine() : currentStepLength_(params.samplesPerStep.load(kRelaxed)) {
    delay_.reset(params.samplesPerStep.load(kRelaxed));
}

void SynthEngine::resetDelay() {
    mailbox_.post(std::make_unique<DelayReset>(params.samplesPerStep.load(kRelaxed)));
}

void SynthEngine::sendPhrase(int voice, const PhraseState& phrase, float cutoffNowPreset) {
    sentPhrases_[voice] = phrase;
    mailbox_.post(std::make_unique<PhraseChange>(voice, phrase, cutoffNowPreset));
}

void SynthEngine::postState(const SynthState& state, unsigned parts) {
    // The controls as the render will find them when this post applies: as they stand now, after the
    // posts the render has not applied yet. Comparing with the live values alone would make a post
    // behind another waiting one find its controls "moved" and give way: a lost update.
    const std::uint64_t applied = statesApplied_.load(std::memory_order_acquire);
    while (!unappliedStates_.empty() && unappliedStates_.front().number <= applied)
        unappliedStates_.pop_front();
    SynthState before = captureLiveControls(*this);
    for (const UnappliedState& waiting : unappliedStates_)
        chainControls(*this, before, waiting.before, waiting.target, waiting.parts);
    unappliedStates_.push_back({++statesPosted_, before, state, parts});
    const PhraseState* phrases[kSynthVoices] = {&state.synthLine1.phrase, &state.synthLine2.phrase,
                                                &state.subBass.phrase};
    const unsigned phraseParts[kSynthVoices] = {kStateLine1Phrase, kStateLine2Phrase, kStateSubBass};
    for (int i = 0; i < kSynthVoices; ++i)
        if (parts & phraseParts[i])
            sentPhrases_[i] = *phrases[i];
    mailbox_.post(std::make_unique<StateChange>(state, before, parts));
}

bool SynthEngine::statePending(SynthState& posted, SynthState& before, unsigned& parts) const {
    const std::uint64_t applied = statesApplied_.load(std::memory_order_acquire);
    parts = 0;
    for (const UnappliedState& waiting : unappliedStates_) {
        if (waiting.number <= applied)
            continue;
        copyStateParts(before, waiting.before, waiting.parts & ~parts); // as the first of them found it
        copyStateParts(posted, waiting.target, waiting.parts);
        parts |= waiting.parts;
    }
    return parts != 0;
}

void SynthEngine::settle() {
    mailbox_.settle(*this);
}

void SynthEngine::setMaster(common::StepMaster* master) {
    if (master && !ownBus_)
        ownBus_ = std::make_unique<common::MidiBus>(); // before the render can see the master
    master_.store(master, std::memory_order_release);
}

// ---- Render -----------------------------------------------------------------------------------------

int SynthEngine::shuffleShift(double stepFrames, int shuffleAmount) {
    return static_cast<int>(shuffleAmount * stepFrames * (1.0 / 256.0));
}

int SynthEngine::stepLength(int index, int samplesPerStep, int shuffleAmount) {
    const int shift = shuffleShift(samplesPerStep, shuffleAmount);
    return (index % 2 == 0) ? samplesPerStep + shift : samplesPerStep - shift;
}

void SynthEngine::readParams() {
    BlockParams& block = block_;
#define ZN_READ_FIELD(type, name, start) block.name = params.name.load(kRelaxed);
    ZINTOR_CONTROL_FIELDS(ZN_READ_FIELD)
#undef ZN_READ_FIELD
    block.playing = followed_ ? masterPlaying_ : params.playing.load(kRelaxed);
    block.voices[kSynthLine1] = synthLine1.read();
    block.voices[kSynthLine2] = synthLine2.read();
    block.voices[kSubBass] = subBass.read();
    block.kick = kick.read();
    block.hit = hitVoice.read();
    block.snare = snareVoice.read();
    block.hat = hatVoice.read();
}

void SynthEngine::startStep() {
    params.playingStep.store(currentStep_, kRelaxed);
    const BlockParams& block = block_;
    voices_[kSynthLine1].triggerStep(currentStep_, block.samplesPerStep, block.globalTranspose, random_);
    voices_[kSynthLine2].triggerStep(currentStep_, block.samplesPerStep, block.globalTranspose + 12, random_);
    voices_[kSubBass].triggerStep(currentStep_, block.samplesPerStep, block.globalTranspose - 12, random_);
    hatDrum_.strike();
    struck_ = 1u << kMidiHat;
    if (currentStep_ % 4 == 0) {
        kickDrum_.strike(block.kick.startIncrement);
        struck_ |= 1u << kMidiKick;
    }
    // The fill draw is made on every step, so the render's random sequence does not depend on the pattern.
    const int fill = random_.next() / 8192;
    if (currentStep_ == block.stepCount - kFillKickDistances[fill]) {
        kickDrum_.strike(block.kick.startIncrement);
        struck_ |= 1u << kMidiKick;
    }
    if (currentStep_ % 4 == 2) {
        hitDrum_.strike();
        struck_ |= 1u << kMidiHit;
    }
    if (currentStep_ % 8 == 4) {
        snareDrum_.strike();
        struck_ |= 1u << kMidiSnare;
    }
}

void SynthEngine::renderChunk(std::int16_t* out, int frames) {
    const BlockParams& block = block_;
    SynthVoice* const voices[kSynthVoices] = {&voices_[kSynthLine1], &voices_[kSynthLine2],
                                              &voices_[kSubBass]};
    constexpr float kRamps[kSynthVoices] = {kSynthLineRamp, kSynthLineRamp, kSubBassRamp};
    lines_.render(voices, block.voices, kRamps, frames);
    kickDrum_.render(kickOut_, frames, block.kick);
    drawNoise(random_, noiseDraws_, 3 * frames);

    // The noise drums and the delay in one loop, so that the drums' smoothing chains overlap.
    NoiseDrum::State hit = hitDrum_.state;
    NoiseDrum::State snare = snareDrum_.state;
    NoiseDrum::State hat = hatDrum_.state;
    for (int i = 0; i < frames; ++i) {
        hitOut_[i] = NoiseDrum::next(hit, noiseDraws_[3 * i], block.hit);
        snareOut_[i] = NoiseDrum::next(snare, noiseDraws_[3 * i + 1], block.snare);
        hatOut_[i] = NoiseDrum::next(hat, noiseDraws_[3 * i + 2], block.hat);
        float in = lines_.sample(i, kSynthLine1) * block.delaySends[0] +
                   lines_.sample(i, kSynthLine2) * block.delaySends[1] + kDelayBias;
        // A non-finite sample would circulate in the feedback lines for ever: keep it out.
        if (!(in > -1.0e9f && in < 1.0e9f))
            in = kDelayBias;
        delay_.process(in, echoLeft_[i], echoRight_[i]);
    }
    hitDrum_.state = hit;
    snareDrum_.state = snare;
    hatDrum_.state = hat;

    for (int i = 0; i < frames; ++i) {
        const float line1 = lines_.sample(i, kSynthLine1);
        const float line2 = lines_.sample(i, kSynthLine2);
        const float subBass = lines_.sample(i, kSubBass) * block.subBassGain;
        const float kick = kickOut_[i] * 2.0f;
        // Summed in this order, which the recorded renders were made with.
        mix_[2 * i] =
            (hatOut_[i] + echoLeft_[i] + snareOut_[i] + hitOut_[i] + kick + subBass + line2 + line1) *
            block.masterGain;
        mix_[2 * i + 1] =
            (hatOut_[i] + (echoRight_[i] - hitOut_[i]) + snareOut_[i] + kick + subBass + line2 + line1) *
            block.masterGain;
    }
    dcLeft_.render(mix_, frames, 2, block.dcFilter != 0);
    dcRight_.render(mix_ + 1, frames, 2, block.dcFilter != 0);
    for (int i = 0; i < 2 * frames; ++i)
        out[i] = toSample(mix_[i]);
    heldLeft_ = mix_[2 * frames - 2];
    heldRight_ = mix_[2 * frames - 1];
}

void SynthEngine::advanceClock(int frames) {
    sampleInStep_ += frames;
    if (sampleInStep_ < currentStepLength_)
        return;
    sampleInStep_ = 0;
    ++currentStep_;
    currentStepLength_ = stepLength(currentStep_, block_.samplesPerStep, block_.shuffleAmount);
    // Never beyond the voices' 256-step phrases, whatever was stored in stepCount.
    if (currentStep_ >= block_.stepCount || currentStep_ >= kMaxStepCount)
        currentStep_ = 0;
}

// Each frame the peaks fall by one (not below 0) and rise to the frame's sample. So after `count` frames
// a peak is the largest of 0, its old value less `count`, and each sample less the frames that follow
// it: a reduction the compiler can vectorise.
void SynthEngine::holdPeaks(const std::int16_t* frames, int count) {
    int left = std::max(0, peakLeft_ - count);
    int right = std::max(0, peakRight_ - count);
    for (int i = 0; i < count; ++i) {
        const int framesAfter = count - 1 - i;
        left = std::max(left, frames[2 * i] - framesAfter);
        right = std::max(right, frames[2 * i + 1] - framesAfter);
    }
    peakLeft_ = left;
    peakRight_ = right;
}

bool SynthEngine::renderBlock(void* buffer, int lengthBytes) {
    const int frames = lengthBytes / 4;
    if (frames < 1)
        return true;
    common::MidiBus* const bus = midi_.load(kRelaxed);
    // A new bus holds no notes and runs no clock yet, and its frames count from elsewhere. (A bus
    // restarted for a new stream goes on counting this engine's frames: nothing to do.)
    const bool newBus = bus != midiBus_;
    if (newBus) {
        midiOut_.reset();
        midiBus_ = bus;
        midiPlaying_ = false;
    }
    beginFollowing(bus, frames, newBus);
    readParams();
    block_.delaySends[0] = synthLine1.delaySend.load(kRelaxed);
    block_.delaySends[1] = synthLine2.delaySend.load(kRelaxed);
    // Changes that need no step boundary are taken at once; while stopped there is no boundary to wait for.
    mailbox_.serve(*this, !block_.playing);
    common::WavRecorder* const recorder = recorder_.load(kRelaxed);
    heldLeft_ = 0.0f;
    heldRight_ = 0.0f;
    std::int16_t chunk[2 * kChunkFrames];

    for (int frame = 0; frame < frames;) {
        int count = std::min(frames - frame, kChunkFrames);
        if (followed_)
            count = takeTransport(frame, count);
        bool stepBegins = false;
        if (block_.playing && sampleInStep_ == 0) {
            mailbox_.serve(*this, true); // an opened scene or an undo starts with this step
            readParams();                // which may have moved the controls
            if (block_.playing) {
                startStep();
                stepBegins = true;
            }
        }
        if (followed_ && block_.playing)
            currentStepLength_ = followedStepLength(frame, stepBegins);
        if (bus)
            sendMidi(*bus, frame, stepBegins);
        relocated_ = false;
        if (block_.playing) {
            // A step lasts at least one sample, even when shuffle leaves it no length.
            count = std::min(count, std::max(1, currentStepLength_ - sampleInStep_));
            renderChunk(chunk, count);
            if (bus)
                midiOut_.advance(*bus, frame, count);
            advanceClock(count);
            if (followed_ && sampleInStep_ == 0) // the next step plays the master's next sixteenth
                currentStep_ = stepOfSixteenth(++masterSixteenth_);
        } else {
            // Stopped: the held values, which are silence unless playing went off within this block.
            const std::int16_t left = toSample(heldLeft_);
            const std::int16_t right = toSample(heldRight_);
            for (int i = 0; i < count; ++i) {
                chunk[2 * i] = left;
                chunk[2 * i + 1] = right;
            }
        }
        holdPeaks(chunk, count);
        if (recorder)
            recorder->writeFrames(chunk, count);
        // Little-endian 16-bit frames; the buffer need not be aligned.
        std::memcpy(static_cast<unsigned char*>(buffer) + 4 * static_cast<std::size_t>(frame), chunk,
                    4 * static_cast<std::size_t>(count));
        frame += count;
    }

    if (bus) {
        midiOut_.endBlock(*bus, frames);
        bus->endBlock(frames);
    } else if (followed_) {
        ownBus_->endBlock(frames);
    }
    if (followed_) {
        params.followedBpm.store(static_cast<float>(followed_->bpm()), kRelaxed);
        params.masterPlaying.store(masterPlaying_, kRelaxed);
    }
    params.peakLeft.store(peakLeft_, kRelaxed);
    params.peakRight.store(peakRight_, kRelaxed);
    return true;
}

// ---- MIDI out ---------------------------------------------------------------------------------------

int SynthEngine::nextStep() const {
    const int next = currentStep_ + 1;
    return next >= block_.stepCount || next >= kMaxStepCount ? 0 : next; // as advanceClock() wraps
}

/// What happens on `frame` as MIDI: playing starting or stopping, then the step that begins there.
void SynthEngine::sendMidi(common::MidiBus& bus, int frame, bool stepBegins) {
    if (relocated_ && midiPlaying_) { // the master moved while playing: stop, then play from there
        midiOut_.stop(bus, frame);
        midiPlaying_ = false;
    }
    if (block_.playing != midiPlaying_) {
        midiPlaying_ = block_.playing;
        if (!midiPlaying_) {
            midiOut_.stop(bus, frame);
        } else if (followed_) {
            midiOut_.play(bus, frame, masterSixteenth_, false);
        } else if (stepBegins) {
            midiOut_.play(bus, frame, currentStep_, false);
        } else { // resumed within a step: the clock goes on from the next one
            midiOut_.play(bus, frame, nextStep(), true);
            restrikeHeldNotes(bus, frame);
        }
    }
    if (!stepBegins)
        return;

    const BlockParams& block = block_;
    std::int64_t sixteenthFrames = block.samplesPerStep;
    if (followed_) {
        const std::int64_t start = followed_->frameOfSixteenth(masterSixteenth_);
        sixteenthFrames = followed_->frameOfSixteenth(masterSixteenth_ + 1) - start;
        // Shuffled, the pulses spread over the master's pairs of sixteenths (its even ones begin a pair,
        // wherever the pattern wraps); otherwise over each sixteenth, which a changing tempo need not
        // split evenly.
        const bool pairs = masterSixteenth_ % 2 == 0 && block.shuffleAmount != 0;
        const std::int64_t pairEnd = followed_->frameOfSixteenth(masterSixteenth_ + 2);
        midiOut_.stepBegins(bus, frame, pairs, pairEnd - stepStartFrame_, currentStepLength_);
    } else {
        // An even step and the odd one after it last two unshuffled steps; a last step of an odd count
        // has no partner.
        const int next = currentStep_ + 1;
        const bool pairs = currentStep_ % 2 == 0 && nextStep() == next;
        const std::int64_t pairFrames =
            std::int64_t{currentStepLength_} + stepLength(next, block.samplesPerStep, block.shuffleAmount);
        midiOut_.stepBegins(bus, frame, pairs, pairFrames, currentStepLength_);
    }

    for (int i = 0; i < kSynthVoices; ++i)
        sendSynthNote(bus, frame, i, voices_[i].state.releaseAt);
    // The drums: a sixteenth long, or up to their next hit.
    const int drumFrames = static_cast<int>(std::clamp<std::int64_t>(sixteenthFrames, 1, 1 << 30));
    for (int drum = kMidiKick; drum <= kMidiHat; ++drum) {
        if (!(struck_ & (1u << drum)))
            continue;
        // The noise drums have no volume control: they strike at their full level.
        const float level = drum == kMidiKick ? std::min(block.kick.volume / kKickVolumeTop, 1.0f) : 1.0f;
        midiOut_.note(bus, frame, drum, SynthMidiOut::drumNoteOf(drum), common::midiVelocityOf(level),
                      drumFrames);
    }
}

/// Synth voice `voice`'s note as it sounds now (its first oscillator's pitch, transpose included), at
/// its volume, ending `length` frames on (−1: at its next note; 0: no note).
void SynthEngine::sendSynthNote(common::MidiBus& bus, int frame, int voice, int length) {
    const float level = voice == kSubBass ? block_.subBassGain / kSubBassGainTop
                                          : block_.voices[voice].volume / kLineVolumeTop;
    const double hertz = static_cast<double>(voices_[voice].state.osc1Increment) * kSampleRate;
    midiOut_.note(bus, frame, voice, common::midiNoteOf(hertz), common::midiVelocityOf(std::min(level, 1.0f)),
                  length);
}

/// Playing resumed within a step: the synth voices whose gate is still open sound again, so their notes
/// do too.
void SynthEngine::restrikeHeldNotes(common::MidiBus& bus, int frame) {
    for (int i = 0; i < kSynthVoices; ++i) {
        const SynthVoice::State& state = voices_[i].state;
        const int left = state.releaseAt < 0 ? -1 : state.releaseAt - state.sinceTrigger;
        if (state.ampTarget > 0.0f && (left == -1 || left > 0))
            sendSynthNote(bus, frame, i, left);
    }
}

// ---- Following a master -----------------------------------------------------------------------------

void SynthEngine::beginFollowing(common::MidiBus* bus, int frames, bool newBus) {
    common::StepMaster* const master = master_.load(std::memory_order_acquire);
    if (master != followed_ || newBus) { // nothing plays until the master's Play on these frames
        followed_ = master;
        masterPlaying_ = false;
        eventWaiting_ = false;
        if (!master)
            params.masterPlaying.store(false, kRelaxed);
    }
    if (!master)
        return;
    common::MidiBus& clockBus = bus ? *bus : *ownBus_;
    blockStart_ = clockBus.renderFrame();
    blockEnd_ = blockStart_ + frames;
    master->update(clockBus, frames);
    eventWaiting_ = master->nextEvent(blockEnd_, event_);
}

/// Applies the master's Play and Stop due on `frame` (or earlier) and ends the chunk before the next.
int SynthEngine::takeTransport(int frame, int count) {
    const std::int64_t now = blockStart_ + frame;
    while (eventWaiting_ && event_.frame <= now) {
        if (event_.kind == common::TransportEvent::Play) {
            relocated_ = relocated_ || masterPlaying_;
            masterPlaying_ = true;
            masterSixteenth_ = std::max<std::int64_t>(event_.sixteenth, 0);
            currentStep_ = stepOfSixteenth(masterSixteenth_);
            sampleInStep_ = 0;
        } else {
            masterPlaying_ = false;
        }
        block_.playing = masterPlaying_;
        eventWaiting_ = followed_->nextEvent(blockEnd_, event_);
    }
    if (eventWaiting_)
        count = static_cast<int>(std::min<std::int64_t>(count, event_.frame - now));
    return count;
}

/// Frames of the current step: up to the master's next sixteenth, later by the shuffle for an even one.
/// Asked again at each chunk, as the master's predictions improve.
int SynthEngine::followedStepLength(int frame, bool stepBegins) {
    if (stepBegins)
        stepStartFrame_ = blockStart_ + frame;
    const std::int64_t next = followed_->frameOfSixteenth(masterSixteenth_ + 1);
    std::int64_t end = next;
    if (masterSixteenth_ % 2 == 0 && block_.shuffleAmount != 0)
        end += shuffleShift(static_cast<double>(next - followed_->frameOfSixteenth(masterSixteenth_)),
                            block_.shuffleAmount);
    return static_cast<int>(std::clamp<std::int64_t>(end - stepStartFrame_, 1, 1 << 30));
}

int SynthEngine::stepOfSixteenth(std::int64_t sixteenth) const {
    const int count = std::min(block_.stepCount, kMaxStepCount);
    return count > 1 ? static_cast<int>(sixteenth % count) : 0;
}

} // namespace zintor
