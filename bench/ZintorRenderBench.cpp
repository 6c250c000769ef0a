// The synth engine's render speed: all seven voices sounding and the delay fed, in 1000-frame blocks; also
// with the MIDI it sends taken off its bus after each block, as a device does.
#include "common/MidiBus.h"
#include "zintor/generators/PhraseGenerators.h"
#include "zintor/generators/StartUp.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

constexpr int kBlockFrames = 1000;

void renderBlocks(benchmark::State& state, int filterType, bool midi = false) {
    auto engine = std::make_unique<zintor::SynthEngine>();
    common::Random random;
    zintor::startUp(*engine, random, 2026);
    zintor::runGenerator(*engine, zintor::kSynthLine2, zintor::generateGoa, random);
    engine->synthLine1.filterType.store(filterType, std::memory_order_relaxed);
    engine->synthLine2.filterType.store(filterType, std::memory_order_relaxed);
    engine->synthLine2.cutoff.store(0.4f, std::memory_order_relaxed);
    engine->params.shuffleAmount.store(64, std::memory_order_relaxed);
    engine->params.playing.store(true, std::memory_order_relaxed);
    auto bus = std::make_unique<common::MidiBus>();
    if (midi)
        engine->setMidi(bus.get());
    std::vector<std::int16_t> buffer(2 * kBlockFrames);
    common::MidiMessage message;
    for (auto _ : state) {
        engine->renderBlock(buffer.data(), kBlockFrames * 4);
        while (bus->takeBefore(common::MidiBus::kEndOfTime, message))
            benchmark::DoNotOptimize(message);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    const double audioSeconds = static_cast<double>(state.iterations()) * kBlockFrames / zintor::kSampleRate;
    // Seconds of audio per second of processor time: the multiple of real time.
    state.counters["xRealTime"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
    state.SetItemsProcessed(state.iterations() * kBlockFrames);
}

void BM_RenderLowPass(benchmark::State& state) {
    renderBlocks(state, 0);
}
void BM_RenderLowPassSendingMidi(benchmark::State& state) {
    renderBlocks(state, 0, true);
}
void BM_RenderHighPass(benchmark::State& state) {
    renderBlocks(state, 1);
}
void BM_RenderRingModulator(benchmark::State& state) {
    renderBlocks(state, 2);
}

BENCHMARK(BM_RenderLowPass);
BENCHMARK(BM_RenderLowPassSendingMidi);
BENCHMARK(BM_RenderHighPass);
BENCHMARK(BM_RenderRingModulator);

} // namespace
