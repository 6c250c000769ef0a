// The loop engine's frame: step clock, mix bus, clip stage, 16-bit conversion and recorder tap.
#include "vexla/engine/LoopEngine.h"

#include "common/WavRecorder.h"
#include "vexla/engine/Scene.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstdint>
#include <limits>
#include <thread>

namespace vexla {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;

float clampTo(float v, float level) {
    if (v > level)
        return level;
    if (v < -level)
        return -level;
    return v;
}
} // namespace

std::int16_t clipAndConvert(float v, bool& clipped) {
    if (v > kClipLevel) {
        v = kClipLevel;
        clipped = true;
    } else if (!(v >= -kClipLevel)) { // also catches NaN
        v = -kClipLevel;
        clipped = true;
    }
    // Adding 1.5 × 2^52 leaves the integer part of the sum in the low bits of the double, rounded to
    // nearest with ties to even: this is round-half-even of v − 0.5, i.e. floor(v) for fractions.
    const double shifted = static_cast<double>(v) - 0.5 + 6755399441055744.0;
    return static_cast<std::int16_t>(static_cast<std::int32_t>(std::bit_cast<std::uint64_t>(shifted)));
}

LoopEngine::LoopEngine() = default;

void LoopEngine::renderBlock(void* buffer, int lengthBytes) {
    std::lock_guard<std::mutex> lock(engineLock);
    if (lengthBytes < 4)
        return;
    const int frames = lengthBytes / 4;
    auto* out = static_cast<unsigned char*>(buffer);
    for (int i = 0; i < frames; ++i) {
        const OutputFrame frame = renderFrame();
        const auto left = static_cast<std::uint16_t>(frame.left);
        const auto right = static_cast<std::uint16_t>(frame.right);
        out[0] = static_cast<unsigned char>(left & 0xffu); // little-endian whatever the host
        out[1] = static_cast<unsigned char>(left >> 8);
        out[2] = static_cast<unsigned char>(right & 0xffu);
        out[3] = static_cast<unsigned char>(right >> 8);
        out += 4;
    }
}

OutputFrame LoopEngine::renderFrame() {
    OutputFrame out;
    const bool running = params.running.load(kRelaxed);
    if (!running) // a stopped clock has no boundary to wait for
        takePostedScene();
    if (running) {
        if (sampleInStep_ == 0)
            triggerStep();
        ++sampleInStep_;
        if (sampleInStep_ > params.samplesPerStep.load(kRelaxed))
            sampleInStep_ = 0;

        // Units, in their fixed order (the hi-hats draw from audioRandom every frame).
        // Both clamp bounds follow the clip level frame by frame, so the output does not depend on
        // where a block boundary falls.
        const float b1 = clampTo(bass1.render(params.bass1Volume.load(kRelaxed), sampleInStep_),
                                 bass1.clip.load(kRelaxed));
        const float b2 = clampTo(bass2.render(params.bass2Volume.load(kRelaxed), sampleInStep_),
                                 bass2.clip.load(kRelaxed));
        const float h = hats.render(audioRandom) * params.hatVolume.load(kRelaxed);
        const float s = sine.render() * params.sineVolume.load(kRelaxed);
        const StereoFrame dry = dryLooper.render(params.dryLooperGain.load(kRelaxed));
        const StereoFrame vcf1 = vcf1Looper.render(params.vcf1Gain.load(kRelaxed), params.vcf1Cutoff.load(kRelaxed),
                                                   params.vcf1Feedback.load(kRelaxed));
        const StereoFrame vcf2 = vcf2Looper.render(params.vcf2Gain.load(kRelaxed), params.vcf2Cutoff.load(kRelaxed),
                                                   params.vcf2Feedback.load(kRelaxed));
        const StereoFrame second = secondLooper.render(params.secondLooperGain.load(kRelaxed));
        const StereoFrame slicerRaw = slicer.render();
        const float k = kick.render(params.kickVolume.load(kRelaxed));

        const float slicerGain = params.slicerGain.load(kRelaxed);
        const float slicerLeft = slicerRaw.left * slicerGain;
        const float slicerRight = slicerRaw.right * slicerGain;
        const float core = k + s + h + b2 + b1;

        const float bass1Echo = bass1.echoSend.load(kRelaxed);
        const float bass2Echo = bass2.echoSend.load(kRelaxed);
        const float hatEcho = hats.hatEchoSend.load(kRelaxed);
        const float secondEcho = secondLooperSends.secondLooperEchoSend.load(kRelaxed);
        const float sineEcho = sine.sineEchoSend.load(kRelaxed);
        const float slicerEcho = slicer.slicerEchoSend.load(kRelaxed);
        float sendLeft = bass1Echo * b1 + bass2Echo * b2 + hatEcho * h + secondEcho * second.left +
                         sineEcho * s + slicerEcho * slicerLeft;
        float sendRight = bass1Echo * b1 + bass2Echo * b2 - hatEcho * h + secondEcho * second.right -
                          sineEcho * s + slicerEcho * slicerRight;

        const float amBassSine = ringModulator.amBassSineSend.load(kRelaxed);
        const float amInput = amBassSine * b1 + amBassSine * s + ringModulator.amHatSend.load(kRelaxed) * h +
                              secondLooperSends.secondLooperAmSend.load(kRelaxed) * second.left +
                              slicer.slicerAmSend.load(kRelaxed) * slicerLeft;
        const float m = ringModulator.render(amInput);
        const float amEcho = ringModulator.amEchoSend.load(kRelaxed);
        sendLeft += amEcho * m;
        sendRight -= amEcho * m;
        const StereoFrame e = echo.process(sendLeft, sendRight);

        // The synthesised voices and the modulator reach the right channel inverted; samples and echo do not.
        const float gain = params.masterGain.load(kRelaxed);
        const float left =
            gain * (e.left + m + core + slicerLeft + second.left + vcf2.left + vcf1.left + dry.left);
        const float right =
            gain * (e.right - core - m + slicerRight + second.right + vcf2.right + vcf1.right + dry.right);
        bool clipped = false;
        out.left = clipAndConvert(left, clipped);
        out.right = clipAndConvert(right, clipped);
        if (clipped)
            params.clipped.store(true, kRelaxed);
    }
    // Peak hold for the meters: magnitudes, since the voices reach the right channel inverted.
    peakLeft_ = std::max(peakLeft_ > 0 ? peakLeft_ - 1 : 0, std::abs(static_cast<std::int32_t>(out.left)));
    peakRight_ = std::max(peakRight_ > 0 ? peakRight_ - 1 : 0, std::abs(static_cast<std::int32_t>(out.right)));
    params.peakLeft.store(peakLeft_, kRelaxed);
    params.peakRight.store(peakRight_, kRelaxed);
    if (params.recording.load(kRelaxed)) {
        // A stopped engine records silence too.
        if (common::WavRecorder* recorder = recorder_.load(kRelaxed))
            recorder->writeFrame(out.left, out.right);
        // Saturates instead of wrapping negative after 2 GiB (about 3.4 hours of recording).
        if (params.recordedBytes.load(kRelaxed) <= std::numeric_limits<std::int32_t>::max() - 4)
            params.recordedBytes.fetch_add(4, kRelaxed);
    }
    return out;
}

void LoopEngine::triggerStep() {
    takePostedScene(); // an opened scene or an undo step starts with this step
    const int step = currentStep_; // always 0..63
    params.playingStep.store(step, kRelaxed);
    const int stepCount = params.stepCount.load(kRelaxed);
    const int transpose = params.transpose.load(kRelaxed);
    bass1.stepLoad(step, stepCount, transpose);
    bass2.stepLoad(step, stepCount, transpose);
    hats.stepLoad(step);
    sine.stepLoad(step, transpose);
    slicer.stepLoad(step);
    if (step == 0) {
        const int samplesPerStep = params.samplesPerStep.load(kRelaxed);
        secondLooper.restart(stepCount, samplesPerStep);
        dryLooper.restart(stepCount, samplesPerStep);
        vcf1Looper.restart(stepCount, samplesPerStep);
        vcf2Looper.restart(stepCount, samplesPerStep);
    }
    if (step % 4 == 0)
        kick.trigger();
    ++currentStep_;

    if (params.requestHats.load(kRelaxed)) {
        generateHats(audioRandom);
        params.requestHats.store(false, kRelaxed);
    }
    if (params.requestSine.load(kRelaxed)) {
        generateSine(audioRandom);
        params.requestSine.store(false, kRelaxed);
    }
    if (params.requestBass1.load(kRelaxed)) {
        generateBass1(audioRandom);
        params.requestBass1.store(false, kRelaxed);
    }
    if (params.requestBass2.load(kRelaxed)) {
        generateBass2(audioRandom);
        params.requestBass2.store(false, kRelaxed);
    }
    if (params.requestKick.load(kRelaxed)) {
        generateKick(audioRandom);
        params.requestKick.store(false, kRelaxed);
    }

    // stepCount may have dropped below the current step, or (from a bad caller) exceed the tables.
    if (currentStep_ >= stepCount || currentStep_ >= kStepTableSize)
        currentStep_ = 0;
}

void LoopEngine::generateBass1(common::Random& random) {
    bass1.generate(random, params.stepCount.load(kRelaxed), params.samplesPerStep.load(kRelaxed));
}

void LoopEngine::generateBass2(common::Random& random) {
    bass2.generate(random, params.stepCount.load(kRelaxed), params.samplesPerStep.load(kRelaxed));
}

void LoopEngine::generateKick(common::Random& random) { kick.generate(random); }

void LoopEngine::generateHats(common::Random& random) { hats.generate(random, params.stepCount.load(kRelaxed)); }

void LoopEngine::generateSine(common::Random& random) { sine.generate(random, params.stepCount.load(kRelaxed)); }

void LoopEngine::alterAm(common::Random& random) { ringModulator.alterAm(random); }

void LoopEngine::alterEcho(common::Random& random) {
    echo.alterEcho(random, params.samplesPerStep.load(kRelaxed));
}

void LoopEngine::alterSecondLooper(common::Random& random) { vexla::alterSecondLooper(secondLooperSends, random); }

void LoopEngine::generateSlicer(common::Random& random) {
    slicer.generateSlicer(random, params.stepCount.load(kRelaxed));
}

void LoopEngine::regenerateAll(common::Random& random) {
    generateBass1(random);
    generateBass2(random);
    generateKick(random);
    alterSecondLooper(random);
    generateSlicer(random);
}

void LoopEngine::postScene(const SceneState& state, unsigned parts) {
    bool replacing = false;
    for (;;) {
        int expected = kSlotIdle;
        if (postedSlot_.compare_exchange_weak(expected, kSlotWriting, std::memory_order_acquire))
            break;
        expected = kSlotPending;
        if (postedSlot_.compare_exchange_weak(expected, kSlotWriting, std::memory_order_acquire)) {
            replacing = true;
            break;
        }
        // The render is copying the slot: a few microseconds.
        std::this_thread::yield();
    }
    if (!replacing)
        postedParts_ = 0;
    copySceneParts(posted_, state, parts);
    postedParts_ |= parts;
    postedSlot_.store(kSlotPending, std::memory_order_release);
}

bool LoopEngine::scenePending(SceneState& posted, unsigned& parts) const {
    if (postedSlot_.load(std::memory_order_acquire) != kSlotPending)
        return false;
    // Only the window writes the slot, so reading it here races with nothing.
    posted = posted_;
    parts = postedParts_;
    return true;
}

void LoopEngine::takePostedScene() {
    if (postedSlot_.load(kRelaxed) != kSlotPending)
        return;
    int expected = kSlotPending;
    if (!postedSlot_.compare_exchange_strong(expected, kSlotApplying, std::memory_order_acquire))
        return; // the window is rewriting it: the next boundary takes it
    applyScene(*this, posted_, postedParts_);
    postedSlot_.store(kSlotIdle, std::memory_order_release);
}

void LoopEngine::stopLoopers() {
    secondLooper.stop();
    dryLooper.stop();
    vcf1Looper.stop();
    vcf2Looper.stop();
}

} // namespace vexla
