// Zintor's render: shuffled step sequencer, seven voices, tempo delay, mix, 16-bit output and peaks.
#include "zintor/engine/SynthEngine.h"

#include "common/WavRecorder.h"
#include "zintor/engine/SynthLines.h"

#include <algorithm>
#include <emmintrin.h>
#include <cstring>
#include <thread>

namespace zintor {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr float kSynthLineRamp = 0.05f;
constexpr float kSubBassRamp = 0.001f;
constexpr float kDelayBias = 0.000030517578125f; // 2^−15, fed into the delay with the synth lines
constexpr float kFullScale = 32767.0f;
constexpr int kFillKickDistances[4] = {1, 2, 3, 5}; // steps before the pattern's end

/// The generator's state i + 1 steps ahead is kMul[i] × state + kAdd[i] (mod 2^32): eight draws are
/// computed side by side instead of as one chain of dependent multiplications.
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

/// The next `count` values of `random`, exactly as that many next() calls give them.
void drawMany(common::Random& random, int* out, int count) {
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

/// toSample() of `count` values, eight at a time.
void toSamples(const float* in, std::int16_t* out, int count) {
    const __m128 high = _mm_set1_ps(kFullScale);
    const __m128 low = _mm_set1_ps(-kFullScale);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        __m128 a = _mm_loadu_ps(in + i);
        __m128 b = _mm_loadu_ps(in + i + 4);
        // Clamped, with NaN turned into 0 (the comparison with itself fails only for NaN).
        a = _mm_and_ps(_mm_cmpord_ps(a, a), _mm_max_ps(_mm_min_ps(a, high), low));
        b = _mm_and_ps(_mm_cmpord_ps(b, b), _mm_max_ps(_mm_min_ps(b, high), low));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm_packs_epi32(_mm_cvttps_epi32(a), _mm_cvttps_epi32(b)));
    }
    for (; i < count; ++i)
        out[i] = toSample(in[i]);
}

/// The peak-hold meters over `count` frames, each falling by one per frame (not below 0) and then
/// raised to the frame's sample. A peak never goes below 0, so after n frames it is the largest of 0,
/// the old peak − n and each frame's sample less the frames that follow it: computed that way,
/// eight samples at a time.
void holdPeaks(const std::int16_t* frames, int count, int& peakLeft, int& peakRight) {
    int left = std::max(0, peakLeft - count);
    int right = std::max(0, peakRight - count);
    int i = 0;
    if (count >= 4) {
        // Lanes: left, right of frames i .. i + 3; each less its distance to the last frame (the
        // saturating subtraction can only clip values that end below 0 anyway).
        __m128i highest = _mm_set1_epi16(-32768);
        __m128i after = _mm_setr_epi16(static_cast<short>(count - 1), static_cast<short>(count - 1),
                                       static_cast<short>(count - 2), static_cast<short>(count - 2),
                                       static_cast<short>(count - 3), static_cast<short>(count - 3),
                                       static_cast<short>(count - 4), static_cast<short>(count - 4));
        const __m128i four = _mm_set1_epi16(4);
        for (; i + 4 <= count; i += 4) {
            const __m128i samples = _mm_loadu_si128(reinterpret_cast<const __m128i*>(frames + 2 * i));
            highest = _mm_max_epi16(highest, _mm_subs_epi16(samples, after));
            after = _mm_sub_epi16(after, four);
        }
        alignas(16) std::int16_t lanes[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), highest);
        for (int lane = 0; lane < 8; lane += 2) {
            left = std::max(left, static_cast<int>(lanes[lane]));
            right = std::max(right, static_cast<int>(lanes[lane + 1]));
        }
    }
    for (; i < count; ++i) {
        left = std::max(left, frames[2 * i] - (count - 1 - i));
        right = std::max(right, frames[2 * i + 1] - (count - 1 - i));
    }
    peakLeft = left;
    peakRight = right;
}

} // namespace

SynthEngine::SynthEngine() : currentStepLength_(params.samplesPerStep.load(kRelaxed)) {
    resetDelay();
}

void SynthEngine::resetDelay() {
    delay_.reset(params.samplesPerStep.load(kRelaxed));
}

int SynthEngine::nextStepLength(int index) const {
    const int samplesPerStep = params.samplesPerStep.load(kRelaxed);
    const int shift = static_cast<int>(params.shuffleAmount.load(kRelaxed) *
                                       static_cast<double>(samplesPerStep) * (1.0 / 256.0));
    return (index % 2 == 0) ? samplesPerStep + shift : samplesPerStep - shift;
}

void SynthEngine::startStep() {
    params.playingStep.store(currentStep_, kRelaxed);
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

void SynthEngine::renderChunk(std::int16_t* out, int frames, float send1, float send2, float& left,
                              float& right) {
    SynthLines::render(synthLine1, synthLine2, subBass, kSynthLineRamp, kSynthLineRamp, kSubBassRamp, linesOut_,
                       frames);
    kick.render(kickOut_, frames);
    // The noise drums draw hit, snare, hat on every frame, in that order, as frame-by-frame rendering would.
    drawMany(random_, noiseDraws_, 3 * frames);
    NoiseDrumLanes drums(hitVoice, snareVoice, hatVoice);

    // The delay, sample by sample, with the noise drums alongside so that their smoothing chains
    // overlap the delay's memory traffic.
    for (int i = 0; i < frames; ++i) {
        _mm_store_ps(drumsOut_ + 4 * i, drums.next(noiseDraws_ + 3 * i));
        const float s1 = linesOut_[SynthLines::kLanes * i];
        const float s2 = linesOut_[SynthLines::kLanes * i + 1];
        float in = s1 * send1 + s2 * send2 + kDelayBias;
        // A non-finite sample would circulate in the feedback lines for ever: keep it out.
        if (!(in > -1.0e9f && in < 1.0e9f))
            in = kDelayBias;
        delay_.process(in, echoOut_[2 * i], echoOut_[2 * i + 1]);
    }
    drums.store();

    // The mix, four frames at a time: the same sums in the same order in every lane.
    const float subBassGain = params.subBassGain.load(kRelaxed);
    const float gain = params.masterGain.load(kRelaxed);
    int i = 0;
    for (; i + 4 <= frames; i += 4) {
        __m128 s1 = _mm_load_ps(linesOut_ + 4 * i);
        __m128 s2 = _mm_load_ps(linesOut_ + 4 * i + 4);
        __m128 s3 = _mm_load_ps(linesOut_ + 4 * i + 8);
        __m128 spare = _mm_load_ps(linesOut_ + 4 * i + 12);
        _MM_TRANSPOSE4_PS(s1, s2, s3, spare);
        __m128 h = _mm_load_ps(drumsOut_ + 4 * i);
        __m128 n = _mm_load_ps(drumsOut_ + 4 * i + 4);
        __m128 t = _mm_load_ps(drumsOut_ + 4 * i + 8);
        __m128 spareDrum = _mm_load_ps(drumsOut_ + 4 * i + 12);
        _MM_TRANSPOSE4_PS(h, n, t, spareDrum);
        const __m128 echoes01 = _mm_load_ps(echoOut_ + 2 * i);
        const __m128 echoes23 = _mm_load_ps(echoOut_ + 2 * i + 4);
        const __m128 echoLeft = _mm_shuffle_ps(echoes01, echoes23, _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 echoRight = _mm_shuffle_ps(echoes01, echoes23, _MM_SHUFFLE(3, 1, 3, 1));
        const __m128 k = _mm_mul_ps(_mm_loadu_ps(kickOut_ + i), _mm_set1_ps(2.0f));
        s3 = _mm_mul_ps(s3, _mm_set1_ps(subBassGain));
        __m128 l = _mm_add_ps(_mm_add_ps(_mm_add_ps(t, echoLeft), n), h);
        l = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_add_ps(l, k), s3), s2), s1);
        __m128 r = _mm_add_ps(_mm_add_ps(t, _mm_sub_ps(echoRight, h)), n);
        r = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_add_ps(r, k), s3), s2), s1);
        l = _mm_mul_ps(l, _mm_set1_ps(gain));
        r = _mm_mul_ps(r, _mm_set1_ps(gain));
        _mm_store_ps(mixOut_ + 2 * i, _mm_unpacklo_ps(l, r));
        _mm_store_ps(mixOut_ + 2 * i + 4, _mm_unpackhi_ps(l, r));
    }
    for (; i < frames; ++i) {
        const float s1 = linesOut_[SynthLines::kLanes * i];
        const float s2 = linesOut_[SynthLines::kLanes * i + 1];
        const float s3 = linesOut_[SynthLines::kLanes * i + 2] * subBassGain;
        const float k = kickOut_[i] * 2.0f;
        const float h = drumsOut_[4 * i];
        const float n = drumsOut_[4 * i + 1];
        const float t = drumsOut_[4 * i + 2];
        mixOut_[2 * i] = (t + echoOut_[2 * i] + n + h + k + s3 + s2 + s1) * gain;
        mixOut_[2 * i + 1] = (t + (echoOut_[2 * i + 1] - h) + n + k + s3 + s2 + s1) * gain;
    }
    left = mixOut_[2 * frames - 2];
    right = mixOut_[2 * frames - 1];
    toSamples(mixOut_, out, 2 * frames);

    // The clock: the chunk ends at or before the step's end.
    sampleInStep_ += frames;
    if (sampleInStep_ >= currentStepLength_) {
        sampleInStep_ = 0;
        ++currentStep_;
        currentStepLength_ = nextStepLength(currentStep_);
        // Never beyond the voices' 256-step phrases, whatever was stored in stepCount.
        const int stepCount = params.stepCount.load(kRelaxed);
        if (currentStep_ >= stepCount || currentStep_ >= kMaxStepCount)
            currentStep_ = 0;
    }
}

bool SynthEngine::renderBlock(void* buffer, int lengthBytes) {
    const int frames = lengthBytes / 4;
    if (frames < 1)
        return true;
    const float send1 = synthLine1.delaySend.load(kRelaxed);
    const float send2 = synthLine2.delaySend.load(kRelaxed);
    float left = 0.0f;
    float right = 0.0f;
    std::int16_t chunk[2 * kChunkFrames];

    for (int frame = 0; frame < frames;) {
        int count = 1;
        if (params.playing.load(kRelaxed)) {
            if (sampleInStep_ == 0) {
                takePostedState(); // an opened scene or an undo starts with this step
                startStep();
            }
            // A step lasts at least one sample, even when shuffle leaves it no length.
            const int stepLeft = std::max(1, currentStepLength_ - sampleInStep_);
            count = std::min({frames - frame, kChunkFrames, stepLeft});
            renderChunk(chunk, count, send1, send2, left, right);
        } else {
            takePostedState(); // a stopped clock has no boundary to wait for
            // Stopped: the held values, which are silence unless playing went off within this block.
            chunk[0] = toSample(left);
            chunk[1] = toSample(right);
        }
        holdPeaks(chunk, count, peakLeft_, peakRight_);
        if (common::WavRecorder* recorder = recorder_.load(kRelaxed))
            for (int i = 0; i < count; ++i)
                recorder->writeFrame(chunk[2 * i], chunk[2 * i + 1]);
        // Little-endian 16-bit frames; the buffer need not be aligned.
        std::memcpy(static_cast<unsigned char*>(buffer) + 4 * static_cast<std::size_t>(frame), chunk,
                    4 * static_cast<std::size_t>(count));
        frame += count;
    }

    params.peakLeft.store(peakLeft_, kRelaxed);
    params.peakRight.store(peakRight_, kRelaxed);
    return true;
}

void SynthEngine::postState(const SynthState& state, unsigned parts) {
    posted_.post(state, parts, copyStateParts);
}

bool SynthEngine::statePending(SynthState& posted, unsigned& parts) const {
    return posted_.pending(posted, parts);
}

void SynthEngine::takePostedState() {
    posted_.take([this](const SynthState& state, unsigned parts) { applyState(*this, state, parts); });
}

void SynthEngine::settlePostedState() {
    posted_.settle([this](const SynthState& state, unsigned parts) { applyState(*this, state, parts); });
}

} // namespace zintor
