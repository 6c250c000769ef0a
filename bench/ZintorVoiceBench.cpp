// Cost of Zintor's voices per frame, as multiples of real time on one core.
#include "zintor/engine/KickDrum.h"
#include "zintor/engine/NoiseDrum.h"
#include "zintor/engine/SynthLines.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr int kFramesPerSecond = 44100;
constexpr int kStepFrames = 5000;

void fillPhrase(zintor::SynthVoice& voice, float envRate) {
    for (int i = 0; i < zintor::kPhraseSteps; ++i) {
        voice.phrase.notes[i] = static_cast<std::int8_t>(i % 13);
        voice.phrase.staccato[i] = static_cast<std::uint8_t>(i % 2);
        voice.phrase.envRates[i] = envRate;
    }
}

void setRealTime(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * kStepFrames);
    state.counters["xRealTime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kStepFrames / kFramesPerSecond,
                           benchmark::Counter::kIsRate);
}

// One step of the three synth voices, the two lines with the given filter type.
void BM_SynthLinesStep(benchmark::State& state) {
    zintor::SynthVoice voices[3];
    fillPhrase(voices[0], 0.0001f);
    fillPhrase(voices[1], 0.02f);
    fillPhrase(voices[2], 1.2f);
    zintor::VoiceParams params[3];
    params[0].filterType = params[1].filterType = static_cast<int>(state.range(0));
    zintor::SynthVoice* const all[3] = {&voices[0], &voices[1], &voices[2]};
    const float ramps[3] = {0.05f, 0.05f, 0.001f};
    auto lines = std::make_unique<zintor::SynthLines>();
    common::Random random;
    int step = 0;
    for (auto _ : state) {
        for (zintor::SynthVoice& voice : voices)
            voice.triggerStep(step, kStepFrames, -1, random);
        step = (step + 1) & 255;
        for (int done = 0; done < kStepFrames; done += zintor::SynthLines::kMaxFrames) {
            lines->render(all, params, ramps, std::min(zintor::SynthLines::kMaxFrames, kStepFrames - done));
            benchmark::DoNotOptimize(lines->sample(0, 0));
        }
    }
    setRealTime(state);
}
BENCHMARK(BM_SynthLinesStep)->Arg(0)->Arg(1)->Arg(2);

// One step of the kick (struck every fourth step) and of the three noise drums.
void BM_DrumsStep(benchmark::State& state) {
    zintor::KickDrum kick;
    zintor::KickParams kickParams;
    zintor::NoiseDrum::State drums[3];
    const zintor::NoiseParams noise[3] = {{0.998f, 0.5f}, {0.9995f, 0.88f}, {0.998f, 0.93f}};
    common::Random random;
    float out[kStepFrames];
    int step = 0;
    for (auto _ : state) {
        if (step++ % 4 == 0)
            kick.strike(kickParams.startIncrement);
        kick.render(out, kStepFrames, kickParams);
        float sum = 0.0f;
        for (int i = 0; i < kStepFrames; ++i)
            for (zintor::NoiseDrum::State& drum : drums)
                sum += zintor::NoiseDrum::next(drum, random.next(), noise[&drum - drums]);
        benchmark::DoNotOptimize(sum);
        benchmark::DoNotOptimize(out);
    }
    setRealTime(state);
}
BENCHMARK(BM_DrumsStep);

} // namespace
