// The loop engine's frame: step clock, mix bus, clip stage, 16-bit conversion and recorder tap.
#include "vexla/engine/LoopEngine.h"

#include "common/MidiBus.h"
#include "common/WavRecorder.h"
#include "vexla/engine/Scene.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace vexla {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
/// The voices' volume sliders at the top (128 × 128 sample units): a note's full velocity.
constexpr double kFullVolume = 16384.0;
/// Sixteenths a master's prediction may jump past at once; beyond, the step begins late instead.
constexpr int kMaxSkippedSixteenths = 64;
/// A followed step's length is kept within what the step counter holds.
constexpr std::int64_t kMostFollowedStepFrames = std::int64_t{1} << 30;
} // namespace

std::int16_t clipAndConvert(float v, int& clipped) {
    // Without branches or doubles (minss, maxss, conversions and integer arithmetic), so that the mix's
    // loop converts four values at a time.
    const float high = kClipLevel < v ? kClipLevel : v;          // a NaN passes...
    const float level = high > -kClipLevel ? high : -kClipLevel; // ...and becomes −32766 here
    clipped |= level != v;
    // As lrint(level − 0.5) in double precision in the default rounding mode (which the engine never
    // changes): round-half-even of level − 0.5, i.e. floor(level) for a fraction, and the even one of
    // k − 1 and k for a whole number k. A negative level of magnitude 2^−54 or less is the exception:
    // its difference rounds to −0.5 in double precision, which gives 0.
    const auto whole = static_cast<std::int32_t>(level); // toward zero
    const auto back = static_cast<float>(whole);
    // A negative fraction: the floor is one lower.
    const std::int32_t below = static_cast<std::int32_t>(back > level) & (level < -0x1p-54f);
    const std::int32_t oddWhole = static_cast<std::int32_t>(back == level) & whole;
    return static_cast<std::int16_t>(whole - below - oddWhole);
}

// ---- the changes the window posts -----------------------------------------------------------------

/// A scene or an undo step, taken at a step boundary.
class SceneChange final : public common::Change<LoopEngine> {
  public:
    SceneChange(const SceneState& state, unsigned parts) : state_(state), parts_(parts) {}
    void apply(LoopEngine& engine) override {
        applySceneValues(engine, state_, parts_);
        // Setting an unchanged echo would restart its lines' write positions for nothing.
        if ((parts_ & kSceneEcho) &&
            (state_.echoReadPos & EchoUnit::kPositionMask) != engine.echo.settingReadPos())
            engine.echo.setReadPos(state_.echoReadPos);
        ++engine.patternChangesApplied_;
        engine.scenesTaken_.fetch_add(1, std::memory_order_release);
    }
    bool atStepBoundary() const override { return true; }

  private:
    SceneState state_;
    unsigned parts_;
};

/// Re-rolled patterns, taken at the start of the render's next block: the direct writes they replace
/// were heard from the render's next read, and a block start is the soonest a change can be taken.
class PatternChange final : public common::Change<LoopEngine> {
  public:
    PatternChange(const SceneState& state, unsigned parts) : state_(state), parts_(parts) {}
    void apply(LoopEngine& engine) override {
        applySceneValues(engine, state_, parts_);
        ++engine.patternChangesApplied_;
    }

  private:
    SceneState state_;
    unsigned parts_;
};

/// A request, taken at the start of a block (or at the boundary's own serve) and served at the end of
/// the next step boundary, as the window's flag used to be. The result outlives the change: the window
/// keeps it until the render marks it served or dropped.
class RequestChange final : public common::Change<LoopEngine> {
  public:
    explicit RequestChange(LoopEngine::RequestResult* result) : result_(result) {}
    void apply(LoopEngine& engine) override {
        LoopEngine::RequestResult*& waiting = engine.requested_[static_cast<int>(result_->which)];
        if (waiting != nullptr) // asked twice before the boundary: one re-roll, as with a flag
            result_->status.store(LoopEngine::RequestResult::kDropped, std::memory_order_release);
        else
            waiting = result_;
    }

  private:
    LoopEngine::RequestResult* result_;
};

/// Withdraws the waiting requests of some voices (an undo step brings back their old patterns).
class RequestCancel final : public common::Change<LoopEngine> {
  public:
    explicit RequestCancel(unsigned parts) : parts_(parts) {}
    void apply(LoopEngine& engine) override {
        for (int i = 0; i < kRequestCount; ++i) {
            LoopEngine::RequestResult*& waiting = engine.requested_[i];
            if (waiting != nullptr && (parts_ & scenePartOf(static_cast<Request>(i)))) {
                waiting->status.store(LoopEngine::RequestResult::kDropped, std::memory_order_release);
                waiting = nullptr;
            }
        }
    }

  private:
    unsigned parts_;
};

namespace {

class EchoChange final : public common::Change<LoopEngine> {
  public:
    explicit EchoChange(std::int32_t readPos) : readPos_(readPos) {}
    void apply(LoopEngine& engine) override { engine.echo.setReadPos(readPos_); }

  private:
    std::int32_t readPos_;
};

/// A new kick pattern stops the first partial until the next trigger.
class KickSilence final : public common::Change<LoopEngine> {
  public:
    void apply(LoopEngine& engine) override { engine.kick.silence(); }
};

/// Swaps a loaded sample into a slot; the change then holds the old arrays, freed when the window collects
/// it.
class SampleSwap final : public common::Change<LoopEngine> {
  public:
    SampleSwap(SampleSlot& slot, SampleSlot&& loaded) : slot_(slot), loaded_(std::move(loaded)) {}
    void apply(LoopEngine& engine) override {
        // No looper keeps a pointer into the old arrays past this point.
        engine.stopLoopers();
        std::swap(slot_, loaded_);
    }

  private:
    SampleSlot& slot_;
    SampleSlot loaded_;
};

} // namespace

LoopEngine::LoopEngine() : echoReadPos_(echo.settingReadPos()) {}

void LoopEngine::post(std::unique_ptr<common::Change<LoopEngine>> change) {
    mailbox_.post(std::move(change));
}

unsigned scenePartOf(Request which) {
    switch (which) {
    case Request::Hats:
        return kSceneHats;
    case Request::Sine:
        return kSceneSine;
    case Request::Bass1:
        return kSceneBass1;
    case Request::Bass2:
        return kSceneBass2;
    case Request::Kick:
        return kSceneKick;
    }
    return 0;
}

void rollVoice(Request which, SceneState& patterns, common::Random& random, int stepCount,
               int samplesPerStep) {
    switch (which) {
    case Request::Hats:
        HatVoice::generate(patterns.hats, random, stepCount);
        break;
    case Request::Sine:
        SineVoice::generate(patterns.sine, random, stepCount);
        break;
    case Request::Bass1:
        BassVoice::generate(patterns.bass1, BassKind::Bass1, random, stepCount, samplesPerStep);
        break;
    case Request::Bass2:
        BassVoice::generate(patterns.bass2, BassKind::Bass2, random, stepCount, samplesPerStep);
        break;
    case Request::Kick:
        KickVoice::generate(patterns.kick, random);
        break;
    }
}

void LoopEngine::postPatternChange(std::unique_ptr<common::Change<LoopEngine>> change, unsigned parts) {
    ++patternChangesPosted_;
    for (int i = 0; i < kRequestCount; ++i)
        if (parts & scenePartOf(static_cast<Request>(i)))
            lastPatternChange_[i] = patternChangesPosted_;
    post(std::move(change));
}

void LoopEngine::sendPatterns(const SceneState& state, unsigned parts) {
    parts &= kScenePatterns;
    if (parts == 0)
        return;
    copySceneParts(sentPatterns_, state, parts);
    postPatternChange(std::make_unique<PatternChange>(sentPatterns_, parts), parts);
}

void LoopEngine::request(Request which) {
    auto result = std::make_unique<RequestResult>();
    result->which = which;
    RequestResult* room = result.get();
    requests_.push_back(std::move(result));
    post(std::make_unique<RequestChange>(room));
}

bool LoopEngine::requestPending(Request which) const {
    for (const auto& result : requests_)
        if (result->which == which && !result->withdrawn &&
            result->status.load(std::memory_order_acquire) == RequestResult::kWaiting)
            return true;
    return false;
}

void LoopEngine::cancelRequests(unsigned parts) {
    bool any = false;
    for (const auto& result : requests_)
        if ((parts & scenePartOf(result->which)) && !result->withdrawn) {
            result->withdrawn = true;
            any = true;
        }
    if (any)
        post(std::make_unique<RequestCancel>(parts));
}

void LoopEngine::postFlaggedRequests() {
    // In Request's order.
    std::atomic<bool>* const flags[kRequestCount] = {&params.requestHats, &params.requestSine,
                                                     &params.requestBass1, &params.requestBass2,
                                                     &params.requestKick};
    for (int i = 0; i < kRequestCount; ++i)
        if (flags[i]->exchange(false, kRelaxed))
            request(static_cast<Request>(i));
}

void LoopEngine::serveRequestsNow(common::Random& random) {
    postFlaggedRequests();
    settleChanges(); // the posted requests now wait in requested_
    for (int i = 0; i < kRequestCount; ++i) {
        RequestResult* const result = requested_[i];
        if (result == nullptr)
            continue;
        requested_[i] = nullptr;
        result->status.store(RequestResult::kDropped, std::memory_order_release);
        rollAndSend(static_cast<Request>(i), random);
    }
    collectChanges();
}

void LoopEngine::collectChanges() {
    mailbox_.collect();
    for (auto it = requests_.begin(); it != requests_.end();) {
        RequestResult& result = **it;
        const int status = result.status.load(std::memory_order_acquire);
        if (status == RequestResult::kWaiting) {
            ++it;
            continue;
        }
        const int index = static_cast<int>(result.which);
        // A change of the window that the render applied after serving this one wins.
        if (status == RequestResult::kServed && !result.withdrawn &&
            lastPatternChange_[index] <= result.patternChangesSeen)
            copySceneParts(sentPatterns_, result.state, scenePartOf(result.which));
        it = requests_.erase(it);
    }
}

void LoopEngine::postScene(const SceneState& state, unsigned parts) {
    copySceneParts(sentPatterns_, state, parts & kScenePatterns);
    if (parts & kSceneEcho)
        echoReadPos_ = state.echoReadPos & EchoUnit::kPositionMask;
    // Forget the posts the render has taken; keep the rest for scenePending.
    const std::size_t taken = scenesTaken_.load(std::memory_order_acquire);
    while (scenesPosted_ - postedScenes_.size() < taken)
        postedScenes_.pop_front();
    postedScenes_.emplace_back(state, parts);
    ++scenesPosted_;
    postPatternChange(std::make_unique<SceneChange>(state, parts), parts);
}

bool LoopEngine::scenePending(SceneState& posted, unsigned& parts) const {
    const std::size_t taken = scenesTaken_.load(std::memory_order_acquire);
    if (taken == scenesPosted_)
        return false;
    parts = 0;
    // The posts still waiting are the newest ones; the newer parts win.
    for (std::size_t i = taken - (scenesPosted_ - postedScenes_.size()); i < postedScenes_.size(); ++i) {
        copySceneParts(posted, postedScenes_[i].first, postedScenes_[i].second);
        parts |= postedScenes_[i].second;
    }
    return true;
}

void LoopEngine::swapSample(SampleSlot& slot, SampleSlot&& loaded) {
    post(std::make_unique<SampleSwap>(slot, std::move(loaded)));
}

void LoopEngine::emptySample(SampleSlot& slot) {
    SampleSlot empty;
    initSlot(empty);
    swapSample(slot, std::move(empty));
}

void LoopEngine::setEchoReadPos(std::int32_t readPos) {
    echoReadPos_ = readPos & EchoUnit::kPositionMask;
    post(std::make_unique<EchoChange>(echoReadPos_));
}

// ---- the render ------------------------------------------------------------------------------------

void LoopEngine::serveChanges(bool atStepBoundary) {
    // A scene may bring new control values: they count from here on.
    mailbox_.serve(*this, atStepBoundary);
    snapshot_ = readParams(params);
}

void LoopEngine::renderBlock(void* buffer, int lengthBytes) {
    if (lengthBytes < 4)
        return;
    int frames = lengthBytes / 4;
    const int blockFrames = frames;
    midi_ = midiBus_.load(kRelaxed);
    if (midi_ != lastMidi_) { // a new bus has heard nothing: its clock starts at the next step
        midiOut_.reset();
        lastMidi_ = midi_;
    }
    Following& follow = follow_;
    common::StepMaster* const master = master_.load(kRelaxed);
    if (master != follow.lastMaster) { // a new master: wait for its Play
        follow = Following{};
        follow.lastMaster = master;
        params.masterPlaying.store(false, kRelaxed);
        params.followedBpm.store(0.0f, kRelaxed);
    }
    follow.master = master;
    if (follow.master) {
        follow.bus = midi_ ? midi_ : &spareBus_;
        follow.blockStart = follow.bus->renderFrame();
        follow.blockEnd = follow.blockStart + frames;
        follow.master->update(*follow.bus, frames);
        follow.eventDue = follow.master->nextEvent(follow.blockEnd, follow.event);
        params.followedBpm.store(static_cast<float>(follow.master->bpm()), kRelaxed);
    }
    snapshot_ = readParams(params);
    // A stopped clock has no boundary to wait for.
    serveChanges(!snapshot_.running || (follow.master && !follow.playing));
    recordedRun_ = false;
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::int16_t run[2 * kMaxRunFrames]; // left, right, left, ...
    runFrame_ = 0;
    while (frames > 0) {
        const int n = renderRun(run, frames < kMaxRunFrames ? frames : kMaxRunFrames);
        runFrame_ += n;
        tapRun(run, n);
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(bytes, run, static_cast<std::size_t>(n) * 4);
        } else {
            for (int i = 0; i < 2 * n; ++i) { // little-endian whatever the host
                const auto sample = static_cast<std::uint16_t>(run[i]);
                bytes[2 * i] = static_cast<unsigned char>(sample & 0xffu);
                bytes[2 * i + 1] = static_cast<unsigned char>(sample >> 8);
            }
        }
        bytes += 4 * n;
        frames -= n;
    }
    if (midi_) {
        midiOut_.endBlock(*midi_, blockFrames);
        midi_->endBlock(blockFrames);
    } else if (follow.master) {
        spareBus_.endBlock(blockFrames);
    }
    if (follow.master)
        params.masterPlaying.store(follow.playing, kRelaxed);
    params.peakLeft.store(peakLeft_, kRelaxed);
    params.peakRight.store(peakRight_, kRelaxed);
    if (recordedRun_) {
        // Saturates instead of wrapping negative after 2 GiB (about 3.4 hours of recording).
        const std::int64_t recorded =
            params.recordedBytes.load(kRelaxed) + static_cast<std::int64_t>(lengthBytes / 4) * 4;
        constexpr std::int64_t kLastCount = std::numeric_limits<std::int32_t>::max() - 3;
        params.recordedBytes.store(static_cast<std::int32_t>(std::min(recorded, kLastCount)), kRelaxed);
    }
}

void LoopEngine::tapRun(const std::int16_t* out, int n) {
    // Peak hold for the meters: magnitudes, since the voices reach the right channel inverted. Each frame
    // the peak falls by one and rises to the frame's magnitude.
    // After n frames a peak is the larger of its old value less n and each magnitude less the frames
    // that follow it: a reduction the compiler vectorises, where the frame-by-frame rule is a chain.
    std::int32_t peakLeft = peakLeft_ - n, peakRight = peakRight_ - n;
    for (int i = 0; i < n; ++i) {
        const int framesAfter = n - 1 - i;
        peakLeft = std::max(peakLeft, std::abs(static_cast<std::int32_t>(out[2 * i])) - framesAfter);
        peakRight = std::max(peakRight, std::abs(static_cast<std::int32_t>(out[2 * i + 1])) - framesAfter);
    }
    peakLeft_ = peakLeft;
    peakRight_ = peakRight;
    if (snapshot_.recording) {
        // A stopped engine records silence too.
        if (common::WavRecorder* recorder = recorder_.load(kRelaxed))
            recorder->writeFrames(out, n);
        recordedRun_ = true;
    }
}

int LoopEngine::renderRun(std::int16_t* out, int maxFrames) {
    if (follow_.master)
        return renderFollowedRun(out, maxFrames);
    if (!snapshot_.running)
        return renderSilence(out, maxFrames);
    if (sampleInStep_ == 0) {
        const int step = currentStep_;
        triggerStep();
        if (midi_)
            beginMidiStep(runFrame_, step, step, snapshot_.controls.samplesPerStep);
    }
    // The run ends with the step: the counter goes on to samplesPerStep and reads 0 on the step's
    // last frame. samplesPerStep may have been lowered below the counter: then this frame ends the step.
    const int samplesPerStep = snapshot_.controls.samplesPerStep;
    const int framesLeftInStep = sampleInStep_ <= samplesPerStep ? samplesPerStep - sampleInStep_ + 1 : 1;
    return renderStepFrames(out, std::min(maxFrames, framesLeftInStep), samplesPerStep);
}

int LoopEngine::renderSilence(std::int16_t* out, int n) {
    if (midi_)
        midiOut_.stop(*midi_, runFrame_);
    std::fill(out, out + 2 * n, std::int16_t{0});
    return n;
}

int LoopEngine::renderStepFrames(std::int16_t* out, int n, int samplesPerStep) {
    const int firstCounter = sampleInStep_ + 1;
    if (midi_)
        midiOut_.run(*midi_, runFrame_, sampleInStep_, n);
    sampleInStep_ += n;
    if (sampleInStep_ > samplesPerStep)
        sampleInStep_ = 0;
    renderUnits(n, firstCounter, samplesPerStep);
    mixSends(n);
    echo.render(lines_.sendLeft, lines_.sendRight, lines_.echoLeft, lines_.echoRight, n);
    mixOutput(out, n);
    return n;
}

// ---- following a master ----------------------------------------------------------------------------

void LoopEngine::takeTransportEvent() {
    Following& follow = follow_;
    // A Play while playing is a new start: what followers of our clock heard so far stops here.
    if (midi_)
        midiOut_.stop(*midi_, runFrame_);
    follow.playing = follow.event.kind == common::TransportEvent::Play;
    follow.inStep = false;
    if (follow.playing) { // its sixteenth begins here, on the event's frame or the block's first
        follow.nextSixteenth = follow.event.sixteenth;
        follow.entryFrame = follow.blockStart + runFrame_;
    }
    follow.eventDue = follow.master->nextEvent(follow.blockEnd, follow.event);
}

int LoopEngine::renderFollowedRun(std::int16_t* out, int maxFrames) {
    Following& follow = follow_;
    const std::int64_t now = follow.blockStart + runFrame_;
    // Runs end where a change is due, so that it takes effect on its own frame.
    while (follow.eventDue && follow.event.frame <= now)
        takeTransportEvent();
    int n = maxFrames;
    if (follow.eventDue)
        n = static_cast<int>(std::min<std::int64_t>(n, follow.event.frame - now));
    if (!follow.playing)
        return renderSilence(out, n);

    const common::StepMaster& master = *follow.master;
    std::int64_t boundary =
        follow.entryFrame >= 0 ? follow.entryFrame : master.frameOfSixteenth(follow.nextSixteenth);
    if (now >= boundary) {
        // A sixteenth begins here; any the master's prediction has already moved past are skipped.
        std::int64_t sixteenth = follow.nextSixteenth;
        for (int skipped = 0;
             skipped < kMaxSkippedSixteenths && master.frameOfSixteenth(sixteenth + 1) <= now; ++skipped)
            ++sixteenth;
        follow.nextSixteenth = sixteenth + 1;
        follow.entryFrame = -1;
        boundary = master.frameOfSixteenth(follow.nextSixteenth);
        // Run off: the engine stands still, and joins again on a later sixteenth.
        follow.inStep = snapshot_.running;
        if (follow.inStep) {
            const std::int64_t stepCount = std::clamp(snapshot_.controls.stepCount, 1, kStepTableSize);
            const int step = static_cast<int>((sixteenth % stepCount + stepCount) % stepCount);
            follow.stepStart = now;
            currentStep_ = step;
            sampleInStep_ = 0;
            triggerStep();
            if (midi_)
                beginMidiStep(runFrame_, step, sixteenth,
                              static_cast<int>(
                                  std::clamp(boundary - now, std::int64_t{1}, kMostFollowedStepFrames) - 1));
        }
    }
    if (!snapshot_.running)
        follow.inStep = false;
    const std::int64_t stepEnd = std::max(boundary, now + 1);
    n = static_cast<int>(std::min<std::int64_t>(n, stepEnd - now));
    if (!follow.inStep)
        return renderSilence(out, n);
    const std::int64_t stepFrames = std::min(stepEnd - follow.stepStart, kMostFollowedStepFrames);
    return renderStepFrames(out, n, static_cast<int>(stepFrames - 1));
}

void LoopEngine::beginMidiStep(int frameInBlock, int step, std::int64_t position, int samplesPerStep) {
    // The voices as the step has just loaded them (a scene taken at this boundary included).
    const ControlValues& controls = snapshot_.controls;
    StepStrikes strikes;
    const auto bassTone = [&](const BassVoice& voice, float volume) {
        const int gate = voice.gateLength();
        // The gate closes on the frame whose counter passes it, unless the step ends first: its last
        // frame reads the counter as 0 and keeps the gate open into the next step.
        return StepStrikes::Tone{voice.hertz(kSampleRate), gate > 0 ? volume / kFullVolume : 0.0,
                                 gate < samplesPerStep ? gate : -1};
    };
    strikes.bass1 = bassTone(bass1, controls.bass1Volume);
    strikes.bass2 = bassTone(bass2, controls.bass2Volume);
    // The sine never stops; its note ends where its level has decayed to nothing.
    const double level = sine.target(), decay = sine.targetDecay();
    strikes.sine = {sine.hertz(kSampleRate), level * controls.sineVolume,
                    decay > 0.0 ? static_cast<std::int64_t>(std::ceil(level / decay)) : -1};
    if (step % 4 == 0)
        strikes.kick = controls.kickVolume / kFullVolume;
    strikes.hats = hats.level() * controls.hatVolume;
    // Song position in 14 bits.
    midiOut_.beginStep(*midi_, frameInBlock, samplesPerStep + 1,
                       static_cast<int>(std::clamp<std::int64_t>(position, 0, 0x3FFF)), strikes);
}

void LoopEngine::renderUnits(int n, int firstCounter, int samplesPerStep) {
    // Only the hi-hats draw from audioRandom, so the units' order keeps every draw in order.
    const ControlValues& controls = snapshot_.controls;
    RunLines& lines = lines_;
    renderFeedbackChains(n, firstCounter, samplesPerStep);
    dryLooper.render(lines.dryLeft, lines.dryRight, n, controls.dryLooperGain);
    secondLooper.render(lines.secondLeft, lines.secondRight, n, controls.secondLooperGain);
    slicer.render(lines.slicerLeft, lines.slicerRight, n, controls.slicerGain);
    sine.render(lines.sine, n, controls.sineVolume);
    kick.render(lines.kick, n, controls.kickVolume);
}

void LoopEngine::renderFeedbackChains(int n, int firstCounter, int samplesPerStep) {
    // The basslines and the VCF loopers' filters are six serial feedback chains: worked frame by frame
    // in one loop they overlap, where unit after unit each would wait on its own (1.4x the whole engine).
    const ControlValues& controls = snapshot_.controls;
    RunLines& lines = lines_;
    vcf1Looper.setFilter(controls.vcf1Cutoff, controls.vcf1Feedback);
    vcf2Looper.setFilter(controls.vcf2Cutoff, controls.vcf2Feedback);
    const int vcf1Playing = vcf1Looper.fetch(lines.vcf1Left, lines.vcf1Right, n);
    const int vcf2Playing = vcf2Looper.fetch(lines.vcf2Left, lines.vcf2Right, n);
    BassVoice::Run bass1Run(bass1, controls.bass1Volume, firstCounter, samplesPerStep);
    BassVoice::Run bass2Run(bass2, controls.bass2Volume, firstCounter, samplesPerStep);
    StretchLooper::FilterRun vcf1Filters(vcf1Looper), vcf2Filters(vcf2Looper);
    // Only the hi-hats draw from audioRandom, so rendering them here keeps every draw in order.
    HatVoice::Run hatsRun(hats, audioRandom, controls.hatVolume);
    const auto frame = [&]<bool kMayUpdate>(int i) {
        lines.bass1[i] = bass1Run.next<kMayUpdate>(i);
        lines.bass2[i] = bass2Run.next<kMayUpdate>(i);
        lines.hats[i] = hatsRun.next();
        if (i < vcf1Playing)
            vcf1Filters.filter(lines.vcf1Left[i], lines.vcf1Right[i]);
        if (i < vcf2Playing)
            vcf2Filters.filter(lines.vcf2Left[i], lines.vcf2Right[i]);
    };
    // The frames between the basslines' slow updates (every 34th frame) call nothing, so that the
    // chains' state stays in registers across them.
    for (int i = 0; i < n;) {
        const int end =
            std::min(n, i + std::min(bass1Run.framesBeforeUpdate(), bass2Run.framesBeforeUpdate()));
        for (; i < end; ++i)
            frame.operator()<false>(i);
        if (i < n)
            frame.operator()<true>(i++);
    }
    bass1Run.finish();
    bass2Run.finish();
    hatsRun.finish();
    vcf1Filters.finish();
    vcf2Filters.finish();
    vcf1Looper.finishRun(lines.vcf1Left, lines.vcf1Right, n, vcf1Playing, controls.vcf1Gain);
    vcf2Looper.finishRun(lines.vcf2Left, lines.vcf2Right, n, vcf2Playing, controls.vcf2Gain);
}

void LoopEngine::mixSends(int n) {
    RunLines& lines = lines_;
    const float amBassSine = ringModulator.setting.amBassSineSend;
    const float amHat = ringModulator.setting.amHatSend;
    const float secondAm = secondLooperSends.amSend;
    const float slicerAm = slicer.pattern.amSend;
    for (int i = 0; i < n; ++i)
        lines.modulatorInput[i] = amBassSine * lines.bass1[i] + amBassSine * lines.sine[i] +
                                  amHat * lines.hats[i] + secondAm * lines.secondLeft[i] +
                                  slicerAm * lines.slicerLeft[i];
    ringModulator.render(lines.modulatorInput, lines.modulated, n);

    const float bass1Echo = bass1.pattern.echoSend;
    const float bass2Echo = bass2.pattern.echoSend;
    const float hatEcho = hats.pattern.echoSend;
    const float secondEcho = secondLooperSends.echoSend;
    const float sineEcho = sine.pattern.echoSend;
    const float slicerEcho = slicer.pattern.echoSend;
    const float modulatorEcho = ringModulator.setting.amEchoSend;
    // The hi-hats, the sine and the modulator reach the right send inverted.
    for (int i = 0; i < n; ++i) {
        const float common = bass1Echo * lines.bass1[i] + bass2Echo * lines.bass2[i];
        lines.sendLeft[i] = common + hatEcho * lines.hats[i] + secondEcho * lines.secondLeft[i] +
                            sineEcho * lines.sine[i] + slicerEcho * lines.slicerLeft[i] +
                            modulatorEcho * lines.modulated[i];
        lines.sendRight[i] = common - hatEcho * lines.hats[i] + secondEcho * lines.secondRight[i] -
                             sineEcho * lines.sine[i] + slicerEcho * lines.slicerRight[i] -
                             modulatorEcho * lines.modulated[i];
    }
}

void LoopEngine::mixOutput(std::int16_t* out, int n) {
    // The synthesised voices and the modulator reach the right channel inverted; samples and echo do not.
    RunLines& lines = lines_;
    const float gain = snapshot_.controls.masterGain;
    for (int i = 0; i < n; ++i) {
        const float voices = lines.kick[i] + lines.sine[i] + lines.hats[i] + lines.bass2[i] + lines.bass1[i];
        lines.mixLeft[i] =
            gain * (lines.echoLeft[i] + lines.modulated[i] + voices + lines.slicerLeft[i] +
                    lines.secondLeft[i] + lines.vcf2Left[i] + lines.vcf1Left[i] + lines.dryLeft[i]);
        lines.mixRight[i] =
            gain * (lines.echoRight[i] - voices - lines.modulated[i] + lines.slicerRight[i] +
                    lines.secondRight[i] + lines.vcf2Right[i] + lines.vcf1Right[i] + lines.dryRight[i]);
    }
    const bool dcFilter = snapshot_.controls.dcFilter != 0;
    dcLeft_.render(lines.mixLeft, n, 1, dcFilter);
    dcRight_.render(lines.mixRight, n, 1, dcFilter);
    int clipped = 0;
    for (int i = 0; i < n; ++i) {
        out[2 * i] = clipAndConvert(lines.mixLeft[i], clipped);
        out[2 * i + 1] = clipAndConvert(lines.mixRight[i], clipped);
    }
    if (clipped)
        params.clipped.store(true, kRelaxed);
}

void LoopEngine::triggerStep() {
    serveChanges(true);            // an opened scene or an undo step starts with this step
    const int step = currentStep_; // always 0..63
    params.playingStep.store(step, kRelaxed);
    const int stepCount = snapshot_.controls.stepCount;
    const int transpose = snapshot_.controls.transpose;
    bass1.stepLoad(step, stepCount, transpose);
    bass2.stepLoad(step, stepCount, transpose);
    hats.stepLoad(step);
    sine.stepLoad(step, transpose);
    slicer.stepLoad(step);
    if (step == 0) {
        const int samplesPerStep = snapshot_.controls.samplesPerStep;
        secondLooper.restart(stepCount, samplesPerStep);
        dryLooper.restart(stepCount, samplesPerStep);
        vcf1Looper.restart(stepCount, samplesPerStep);
        vcf2Looper.restart(stepCount, samplesPerStep);
    }
    if (step % 4 == 0)
        kick.trigger();
    ++currentStep_;

    serveRequests();

    // stepCount may have dropped below the current step, or (from a bad caller) exceed the tables.
    if (currentStep_ >= stepCount || currentStep_ >= kStepTableSize)
        currentStep_ = 0;
}

void LoopEngine::serveRequests() {
    // Request's order, whatever order the requests came in.
    const int stepCount = params.stepCount.load(kRelaxed);
    const int samplesPerStep = params.samplesPerStep.load(kRelaxed);
    for (int i = 0; i < kRequestCount; ++i) {
        RequestResult* const result = requested_[i];
        if (result == nullptr)
            continue;
        requested_[i] = nullptr;
        // Drawn on top of the unit's own pattern: the steps past stepCount stay as they were.
        const Request which = static_cast<Request>(i);
        const unsigned part = scenePartOf(which);
        captureUnitPatterns(*this, result->state, part);
        rollVoice(which, result->state, audioRandom, stepCount, samplesPerStep);
        applySceneValues(*this, result->state, part);
        if (which == Request::Kick)
            kick.silence();
        result->patternChangesSeen = patternChangesApplied_;
        result->status.store(RequestResult::kServed, std::memory_order_release);
    }
}

// The window's re-rolls draw on top of what it last sent: the steps past stepCount stay as they were.

void LoopEngine::rollAndSend(Request which, common::Random& random) {
    SceneState next = sentPatterns_;
    rollVoice(which, next, random, params.stepCount.load(kRelaxed), params.samplesPerStep.load(kRelaxed));
    sendPatterns(next, scenePartOf(which));
    if (which == Request::Kick)
        post(std::make_unique<KickSilence>());
}

void LoopEngine::generateBass1(common::Random& random) {
    rollAndSend(Request::Bass1, random);
}

void LoopEngine::generateBass2(common::Random& random) {
    rollAndSend(Request::Bass2, random);
}

void LoopEngine::generateKick(common::Random& random) {
    rollAndSend(Request::Kick, random);
}

void LoopEngine::generateHats(common::Random& random) {
    rollAndSend(Request::Hats, random);
}

void LoopEngine::generateSine(common::Random& random) {
    rollAndSend(Request::Sine, random);
}

void LoopEngine::alterAm(common::Random& random) {
    SceneState next = sentPatterns_;
    RingModulator::alterAm(next.am, random);
    sendPatterns(next, kSceneAm);
}

void LoopEngine::alterEcho(common::Random& random) {
    setEchoReadPos(EchoUnit::chooseDelay(random, params.samplesPerStep.load(kRelaxed)));
}

void LoopEngine::alterSecondLooper(common::Random& random) {
    SceneState next = sentPatterns_;
    vexla::alterSecondLooper(next.secondLooper, random);
    sendPatterns(next, kSceneSecondLooper);
}

void LoopEngine::generateSlicer(common::Random& random) {
    SceneState next = sentPatterns_;
    SlicerVoice::generate(next.slicer, random, params.stepCount.load(kRelaxed));
    sendPatterns(next, kSceneSlicer);
}

void LoopEngine::regenerateAll(common::Random& random) {
    generateBass1(random);
    generateBass2(random);
    generateKick(random);
    alterSecondLooper(random);
    generateSlicer(random);
}

void LoopEngine::stopLoopers() {
    secondLooper.stop();
    dryLooper.stop();
    vcf1Looper.stop();
    vcf2Looper.stop();
}

} // namespace vexla
