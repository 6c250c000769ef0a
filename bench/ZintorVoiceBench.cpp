// Cost of Zintor's voices per frame, as multiples of real time on one core.
#include "zintor/engine/KickDrum.h"
#include "zintor/engine/NoiseDrum.h"
#include "zintor/engine/SynthLines.h"
#include "zintor/engine/SynthVoice.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kFramesPerSecond = 44100;
constexpr int kStepFrames = 5000;

void fillPhrase(zintor::SynthVoice& voice, float envRate) {
    for (int i = 0; i < zintor::SynthVoice::kPhraseSteps; ++i) {
        voice.notes[i] = static_cast<std::int8_t>(i % 13);
        voice.staccato[i] = static_cast<std::uint8_t>(i % 2);
        voice.envRates[i] = envRate;
    }
}

void setRealTime(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * kStepFrames);
    state.counters["xRealTime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kStepFrames / kFramesPerSecond,
                           benchmark::Counter::kIsRate);
}

// One step of one synth voice with the given filter type.
void BM_SynthVoiceStep(benchmark::State& state) {
    zintor::SynthVoice voice;
    fillPhrase(voice, 0.0001f);
    voice.filterType = static_cast<int>(state.range(0));
    common::Random random;
    int step = 0;
    for (auto _ : state) {
        voice.triggerStep(step, kStepFrames, -1, random);
        step = (step + 1) & 255;
        float sum = 0.0f;
        for (int i = 0; i < kStepFrames; ++i)
            sum += voice.renderSample(0.05f);
        benchmark::DoNotOptimize(sum);
    }
    setRealTime(state);
}
BENCHMARK(BM_SynthVoiceStep)->Arg(0)->Arg(1)->Arg(2);

// All seven voices of one step, as the engine renders them.
void BM_AllVoicesStep(benchmark::State& state) {
    zintor::SynthVoice line1;
    zintor::SynthVoice line2;
    zintor::SynthVoice subBass;
    zintor::KickDrum kick;
    zintor::NoiseDrum hit;
    zintor::NoiseDrum snare;
    zintor::NoiseDrum hat;
    fillPhrase(line1, 0.0001f);
    fillPhrase(line2, 0.02f);
    fillPhrase(subBass, 1.2f);
    common::Random random;
    int step = 0;
    for (auto _ : state) {
        line1.triggerStep(step, kStepFrames, -1, random);
        line2.triggerStep(step, kStepFrames, 11, random);
        subBass.triggerStep(step, kStepFrames, -13, random);
        hat.strike();
        if (step % 4 == 0)
            kick.strike();
        step = (step + 1) & 255;
        float sum = 0.0f;
        for (int i = 0; i < kStepFrames; ++i) {
            sum += line1.renderSample(0.05f) + line2.renderSample(0.05f) + subBass.renderSample(0.001f) +
                   2.0f * kick.renderSample() + hit.renderSample(random) + snare.renderSample(random) +
                   hat.renderSample(random);
        }
        benchmark::DoNotOptimize(sum);
    }
    setRealTime(state);
}
BENCHMARK(BM_AllVoicesStep);

// The same step rendered chunk by chunk into per-voice buffers, the noise drawn beforehand in the
// per-sample order (hit, snare, hat), then summed per frame.
void BM_AllVoicesStepChunked(benchmark::State& state) {
    constexpr int kChunk = 256;
    zintor::SynthVoice line1;
    zintor::SynthVoice line2;
    zintor::SynthVoice subBass;
    zintor::KickDrum kick;
    zintor::NoiseDrum hit;
    zintor::NoiseDrum snare;
    zintor::NoiseDrum hat;
    fillPhrase(line1, 0.0001f);
    fillPhrase(line2, 0.02f);
    fillPhrase(subBass, 1.2f);
    common::Random random;
    float out[7][kChunk];
    int draws[3 * kChunk];
    int step = 0;
    for (auto _ : state) {
        line1.triggerStep(step, kStepFrames, -1, random);
        line2.triggerStep(step, kStepFrames, 11, random);
        subBass.triggerStep(step, kStepFrames, -13, random);
        hat.strike();
        if (step % 4 == 0)
            kick.strike();
        step = (step + 1) & 255;
        float sum = 0.0f;
        for (int start = 0; start < kStepFrames; start += kChunk) {
            const int n = kStepFrames - start < kChunk ? kStepFrames - start : kChunk;
            for (int i = 0; i < 3 * n; ++i)
                draws[i] = random.next();
            line1.render(out[0], n, 0.05f);
            line2.render(out[1], n, 0.05f);
            subBass.render(out[2], n, 0.001f);
            kick.render(out[3], n);
            hit.render(out[4], n, draws, 3);
            snare.render(out[5], n, draws + 1, 3);
            hat.render(out[6], n, draws + 2, 3);
            for (int i = 0; i < n; ++i)
                sum +=
                    out[6][i] + out[5][i] + out[4][i] + 2.0f * out[3][i] + out[2][i] + out[1][i] + out[0][i];
        }
        benchmark::DoNotOptimize(sum);
    }
    setRealTime(state);
}
BENCHMARK(BM_AllVoicesStepChunked);

// One step of the three synth voices, each rendered alone in chunks (Arg 0) or side by side in SSE
// lanes as the engine does (Arg 1).
void BM_SynthLinesStep(benchmark::State& state) {
    constexpr int kChunk = 256;
    zintor::SynthVoice line1;
    zintor::SynthVoice line2;
    zintor::SynthVoice subBass;
    fillPhrase(line1, 0.0001f);
    fillPhrase(line2, 0.02f);
    fillPhrase(subBass, 1.2f);
    common::Random random;
    alignas(16) float out[4 * kChunk];
    const bool sideBySide = state.range(0) != 0;
    int step = 0;
    for (auto _ : state) {
        line1.triggerStep(step, kStepFrames, -1, random);
        line2.triggerStep(step, kStepFrames, 11, random);
        subBass.triggerStep(step, kStepFrames, -13, random);
        step = (step + 1) & 255;
        for (int start = 0; start < kStepFrames; start += kChunk) {
            const int n = kStepFrames - start < kChunk ? kStepFrames - start : kChunk;
            if (sideBySide) {
                zintor::SynthLines::render(line1, line2, subBass, 0.05f, 0.05f, 0.001f, out, n);
            } else {
                line1.render(out, n, 0.05f);
                line2.render(out + kChunk, n, 0.05f);
                subBass.render(out + 2 * kChunk, n, 0.001f);
            }
            benchmark::DoNotOptimize(out);
        }
    }
    setRealTime(state);
}
BENCHMARK(BM_SynthLinesStep)->Arg(0)->Arg(1);

} // namespace
