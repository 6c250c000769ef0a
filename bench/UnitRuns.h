// For the loop engine's benchmarks: 256-frame blocks, the units rendered in the runs of 64 frames the
// engine calls them with, and the speed reported as a multiple of real time on one core.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

namespace bench {

constexpr int kBlockFrames = 256;
constexpr int kRunFrames = 64;

inline void reportRealTime(benchmark::State& state, double sampleRate = 44100.0) {
    const double frames = static_cast<double>(state.iterations()) * kBlockFrames;
    state.SetItemsProcessed(static_cast<std::int64_t>(frames));
    state.counters["xRealTime"] = benchmark::Counter(frames / sampleRate, benchmark::Counter::kIsRate);
}

/// Times `run(index)` for the runs of each block, then reports the speed.
template <class Run> void timeRuns(benchmark::State& state, Run run) {
    for (auto _ : state)
        for (int index = 0; index < kBlockFrames / kRunFrames; ++index)
            run(index);
    reportRealTime(state);
}

/// Keeps the compiler from dropping what a unit wrote.
template <class... Outputs> void keep(Outputs&... outputs) {
    (benchmark::DoNotOptimize(outputs), ...);
}

} // namespace bench
