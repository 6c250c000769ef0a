// Zintor's render: shuffled step sequencer, seven voices, tempo delay, mix, 16-bit output and peaks.
#include "zintor/engine/SynthEngine.h"

#include <cstring>

namespace zintor {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr float kSynthLineRamp = 0.05f;
constexpr float kSubBassRamp = 0.001f;
constexpr float kDelayBias = 0.000030517578125f; // 2^−15, fed into the delay with the synth lines
constexpr float kFullScale = 32767.0f;
constexpr int kFillKickDistances[4] = {1, 2, 3, 5}; // steps before the pattern's end

/// Clamp to ±32767 and truncate toward zero. A NaN (an unstable filter) gives silence rather than an
/// undefined conversion.
inline std::int16_t toSample(float v) {
    if (v > kFullScale)
        return 32767;
    if (v < -kFullScale)
        return -32767;
    if (v != v)
        return 0;
    return static_cast<std::int16_t>(v);
}

} // namespace

SynthEngine::SynthEngine() : currentStepLength_(params.samplesPerStep.load(kRelaxed)) {
    resetDelay();
}

void SynthEngine::resetDelay() { delay_.reset(params.samplesPerStep.load(kRelaxed)); }

int SynthEngine::nextStepLength(int index) const {
    const int samplesPerStep = params.samplesPerStep.load(kRelaxed);
    const int shift = static_cast<int>(params.shuffleAmount.load(kRelaxed) * static_cast<double>(samplesPerStep) *
                                       (1.0 / 256.0));
    return (index % 2 == 0) ? samplesPerStep + shift : samplesPerStep - shift;
}

void SynthEngine::startStep() {
    const int samplesPerStep = params.samplesPerStep.load(kRelaxed);
    const int transpose = params.globalTranspose.load(kRelaxed);
    synthLine1.triggerStep(currentStep_, samplesPerStep, transpose, random_);
    synthLine2.triggerStep(currentStep_, samplesPerStep, transpose + 12, random_);
    subBass.triggerStep(currentStep_, samplesPerStep, transpose - 12, random_);
    hatVoice.strike();
    if (currentStep_ % 4 == 0)
        kick.strike();
    // The fill draw is made on every step, so the render's random sequence does not depend on the pattern.
    const int fill = random_.next() / 8192;
    if (currentStep_ == params.stepCount.load(kRelaxed) - kFillKickDistances[fill])
        kick.strike();
    if (currentStep_ % 4 == 2)
        hitVoice.strike();
    if (currentStep_ % 8 == 4)
        snareVoice.strike();
}

bool SynthEngine::renderBlock(void* buffer, int lengthBytes) {
    const int frames = lengthBytes / 4;
    if (frames < 1)
        return true;
    const float send1 = synthLine1.delaySend.load(kRelaxed);
    const float send2 = synthLine2.delaySend.load(kRelaxed);
    auto* out = static_cast<unsigned char*>(buffer);
    float left = 0.0f;
    float right = 0.0f;
    int peakLeft = peakLeft_;
    int peakRight = peakRight_;

    for (int frame = 0; frame < frames; ++frame) {
        if (params.playing.load(kRelaxed)) {
            if (sampleInStep_ == 0)
                startStep();

            if (++sampleInStep_ >= currentStepLength_) {
                sampleInStep_ = 0;
                ++currentStep_;
                currentStepLength_ = nextStepLength(currentStep_);
                // Never beyond the voices' 256-step phrases, whatever was stored in stepCount.
                const int stepCount = params.stepCount.load(kRelaxed);
                if (currentStep_ >= stepCount || currentStep_ >= kMaxStepCount)
                    currentStep_ = 0;
            }

            const float s1 = synthLine1.renderSample(kSynthLineRamp);
            const float s2 = synthLine2.renderSample(kSynthLineRamp);
            const float s3 = subBass.renderSample(kSubBassRamp) * params.subBassGain.load(kRelaxed);
            const float k = kick.renderSample() * 2.0f;
            const float h = hitVoice.renderSample(random_);
            const float n = snareVoice.renderSample(random_);
            const float t = hatVoice.renderSample(random_);

            float echoLeft;
            float echoRight;
            delay_.process(s1 * send1 + s2 * send2 + kDelayBias, echoLeft, echoRight);

            const float gain = params.masterGain.load(kRelaxed);
            left = (t + echoLeft + n + h + k + s3 + s2 + s1) * gain;
            right = (t + (echoRight - h) + n + k + s3 + s2 + s1) * gain;
        }

        const std::int16_t l = toSample(left);
        const std::int16_t r = toSample(right);
        if (peakLeft > 0)
            --peakLeft;
        if (peakRight > 0)
            --peakRight;
        if (l > peakLeft)
            peakLeft = l;
        if (r > peakRight)
            peakRight = r;
        // Little-endian 16-bit frames; the buffer need not be aligned.
        const std::int16_t pair[2] = {l, r};
        std::memcpy(out + 4 * static_cast<std::size_t>(frame), pair, sizeof pair);
    }

    peakLeft_ = peakLeft;
    peakRight_ = peakRight;
    params.peakLeft.store(peakLeft, kRelaxed);
    params.peakRight.store(peakRight, kRelaxed);
    return true;
}

} // namespace zintor
