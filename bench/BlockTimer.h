// Times every block a render thread plays, paced like a sound card, while the caller's thread does the
// window's worst; reports the longest block and the 99.9th percentile as shares of the block's period.
// run() on the window thread; the render function on the timer's own thread only.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <thread>
#include <vector>

namespace bench {

/// Seconds of audio to play, from VZ_WORST_BLOCK_SECONDS (default 60).
inline double worstBlockSeconds() {
    const char* text = std::getenv("VZ_WORST_BLOCK_SECONDS");
    const double seconds = text ? std::atof(text) : 0.0;
    return seconds > 0 ? seconds : 60.0;
}

/// Processor time of the calling thread: unlike the wall clock, it leaves out time the system gave to
/// other programs, so the two together tell our own work from a busy machine.
inline std::int64_t threadCpuNanoseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

struct BlockTimes {
    std::vector<std::int64_t> nanoseconds;    ///< one per block, wall clock
    std::vector<std::int64_t> cpuNanoseconds; ///< one per block, the render thread's own processor time
    long long outOfRange = 0;              ///< samples beyond the program's clip level
};

/// Plays `seconds` of audio in blocks of `blockFrames` through `render` (which fills blockFrames
/// frames), one block per period, on a thread of its own, calling `stress` on this thread until the
/// audio is done. Every block's time is kept.
inline BlockTimes timeBlocksUnderStress(int blockFrames, double seconds, int clipLevel,
                                        const std::function<void(std::int16_t*)>& render,
                                        const std::function<void()>& stress) {
    const long long blocks = static_cast<long long>(seconds * 44100 / blockFrames);
    BlockTimes times;
    times.nanoseconds.reserve(static_cast<std::size_t>(blocks));
    times.cpuNanoseconds.reserve(static_cast<std::size_t>(blocks));
    std::atomic<bool> done{false};
    std::thread audio([&] {
        std::vector<std::int16_t> buffer(static_cast<std::size_t>(blockFrames) * 2);
        const auto period = std::chrono::nanoseconds(static_cast<long long>(blockFrames * 1e9 / 44100));
        auto deadline = std::chrono::steady_clock::now();
        for (long long b = 0; b < blocks; ++b) {
            deadline += period;
            std::this_thread::sleep_until(deadline);
            const std::int64_t cpuBegin = threadCpuNanoseconds();
            const auto begin = std::chrono::steady_clock::now();
            render(buffer.data());
            times.nanoseconds.push_back((std::chrono::steady_clock::now() - begin).count());
            times.cpuNanoseconds.push_back(threadCpuNanoseconds() - cpuBegin);
            for (std::int16_t s : buffer)
                times.outOfRange += s > clipLevel || s < -clipLevel;
        }
        done.store(true);
    });
    while (!done.load())
        stress();
    audio.join();
    return times;
}

/// Sets the benchmark's counters: blocks, the longest block and the 99.9th percentile, in µs and as
/// percent of the block's period.
inline void reportBlockTimes(benchmark::State& state, BlockTimes times, int blockFrames) {
    std::vector<std::int64_t>& ns = times.nanoseconds;
    if (ns.empty())
        return;
    std::sort(ns.begin(), ns.end());
    const double periodUs = blockFrames * 1e6 / 44100;
    const double longestUs = double(ns.back()) / 1000.0;
    const double p999Us = double(ns[std::min(ns.size() - 1, ns.size() * 999 / 1000)]) / 1000.0;
    const double medianUs = double(ns[ns.size() / 2]) / 1000.0;
    state.counters["blocks"] = double(ns.size());
    state.counters["period_us"] = periodUs;
    state.counters["median_us"] = medianUs;
    state.counters["p99.9_us"] = p999Us;
    state.counters["longest_us"] = longestUs;
    state.counters["p99.9_pct"] = 100.0 * p999Us / periodUs;
    state.counters["longest_pct"] = 100.0 * longestUs / periodUs;
    state.counters["out_of_range"] = double(times.outOfRange);
    std::vector<std::int64_t>& cpu = times.cpuNanoseconds;
    std::sort(cpu.begin(), cpu.end());
    state.counters["longest_cpu_us"] = double(cpu.back()) / 1000.0;
    state.counters["longest_cpu_pct"] = 100.0 * double(cpu.back()) / 1000.0 / periodUs;
}

} // namespace bench
