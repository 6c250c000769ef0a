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

// ---- Render -----------------------------------------------------------------------------------------

int SynthEngine::stepLength(int index, int samplesPerStep, int shuffleAmount) {
    const int shift = static_cast<int>(shuffleAmount * static_cast<double>(samplesPerStep) * (1.0 / 256.0));
    return (index % 2 == 0) ? samplesPerStep + shift : samplesPerStep - shift;
}

void SynthEngine::readParams() {
    BlockParams& block = block_;
#define ZN_READ_FIELD(type, name, start) block.name = params.name.load(kRelaxed);
    ZINTOR_CONTROL_FIELDS(ZN_READ_FIELD)
#undef ZN_READ_FIELD
    block.playing = params.playing.load(kRelaxed);
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
    if (currentStep_ % 4 == 0)
        kickDrum_.strike(block.kick.startIncrement);
    // The fill draw is made on every step, so the render's random sequence does not depend on the pattern.
    const int fill = random_.next() / 8192;
    if (currentStep_ == block.stepCount - kFillKickDistances[fill])
        kickDrum_.strike(block.kick.startIncrement);
    if (currentStep_ % 4 == 2)
        hitDrum_.strike();
    if (currentStep_ % 8 == 4)
        snareDrum_.strike();
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
        if (block_.playing && sampleInStep_ == 0) {
            mailbox_.serve(*this, true); // an opened scene or an undo starts with this step
            readParams();                // which may have moved the controls
            if (block_.playing)
                startStep();
        }
        if (block_.playing) {
            // A step lasts at least one sample, even when shuffle leaves it no length.
            count = std::min(count, std::max(1, currentStepLength_ - sampleInStep_));
            renderChunk(chunk, count);
            advanceClock(count);
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

    params.peakLeft.store(peakLeft_, kRelaxed);
    params.peakRight.store(peakRight_, kRelaxed);
    return true;
}

} // namespace zintor
