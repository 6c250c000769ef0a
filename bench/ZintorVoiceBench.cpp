// Cost of Zintor's voices per frame, as multiples of real time on one core.
#include "zintor/engine/KickDrum.h"
#include "zintor/engine/NoiseDrum.h"
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
    state.counters["xRealTime"] = benchmark::Counter(static_cast<double>(state.iterations()) * kStepFrames /
                                                         kFramesPerSecond,
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

} // namespace
