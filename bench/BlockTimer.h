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
#include <pthread.h>
#include <sched.h>
#include <string>
#include <sys/resource.h>
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

/// Set by the stress while it loads a sample or opens or finishes a recording, so that the blocks
/// played meanwhile can be told apart: file work must not show in them.
inline std::atomic<bool> fileWorkUnderway{false};

/// Marks the file work of one window action.
class FileWork {
  public:
    FileWork() { fileWorkUnderway.store(true); }
    ~FileWork() { fileWorkUnderway.store(false); }
    FileWork(const FileWork&) = delete;
    FileWork& operator=(const FileWork&) = delete;
};

struct BlockTimes {
    std::vector<std::int64_t> nanoseconds;    ///< one per block, wall clock
    std::vector<std::int64_t> cpuNanoseconds; ///< one per block, the render thread's own processor time
    std::vector<std::uint8_t> duringFileWork; ///< one per block: file work was under way as it played
    long long outOfRange = 0;                 ///< samples beyond the program's clip level
    bool realtime = false;                    ///< the render thread ran with real-time scheduling
    long pageFaults = 0;                      ///< the render thread's, over the whole run
};

/// Real-time (FIFO, priority 1) scheduling for the calling thread, as the audio service's ALSA callback
/// thread asks for it; false where the system does not allow it.
inline bool raiseToRealtime() {
    sched_param param{};
    param.sched_priority = 1;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

/// Plays `seconds` of audio in blocks of `blockFrames` through `render` (which fills blockFrames
/// frames), one block per period, on a thread of its own, calling `stress` on this thread until the
/// audio is done. Every block's time is kept.
inline BlockTimes timeBlocksUnderStress(int blockFrames, double seconds, int clipLevel,
                                        const std::function<void(std::int16_t*)>& render,
                                        const std::function<void()>& stress) {
    const long long blocks = static_cast<long long>(seconds * 44100 / blockFrames);
    BlockTimes times;
    // Sized and touched here, so that the render thread's page faults are the render's own.
    times.nanoseconds.assign(static_cast<std::size_t>(blocks), 0);
    times.cpuNanoseconds.assign(static_cast<std::size_t>(blocks), 0);
    times.duringFileWork.assign(static_cast<std::size_t>(blocks), 0);
    std::atomic<bool> done{false};
    std::thread audio([&] {
        times.realtime = raiseToRealtime();
        std::vector<std::int16_t> buffer(static_cast<std::size_t>(blockFrames) * 2);
        rusage usageBegin{};
        getrusage(RUSAGE_THREAD, &usageBegin);
        const auto period = std::chrono::nanoseconds(static_cast<long long>(blockFrames * 1e9 / 44100));
        auto deadline = std::chrono::steady_clock::now();
        for (long long b = 0; b < blocks; ++b) {
            deadline += period;
            std::this_thread::sleep_until(deadline);
            const bool fileWorkBefore = fileWorkUnderway.load();
            const std::int64_t cpuBegin = threadCpuNanoseconds();
            const auto begin = std::chrono::steady_clock::now();
            render(buffer.data());
            times.nanoseconds[b] = (std::chrono::steady_clock::now() - begin).count();
            times.cpuNanoseconds[b] = threadCpuNanoseconds() - cpuBegin;
            times.duringFileWork[b] = fileWorkBefore || fileWorkUnderway.load();
            for (std::int16_t s : buffer)
                times.outOfRange += s > clipLevel || s < -clipLevel;
        }
        rusage usageEnd{};
        getrusage(RUSAGE_THREAD, &usageEnd);
        times.pageFaults =
            usageEnd.ru_minflt - usageBegin.ru_minflt + usageEnd.ru_majflt - usageBegin.ru_majflt;
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
    std::int64_t longestDuringFileWork = 0, longestOtherwise = 0;
    long long blocksDuringFileWork = 0;
    for (std::size_t b = 0; b < ns.size(); ++b) {
        std::int64_t& longest = times.duringFileWork[b] ? longestDuringFileWork : longestOtherwise;
        longest = std::max(longest, ns[b]);
        blocksDuringFileWork += times.duringFileWork[b];
    }
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
    state.counters["file_work_blocks"] = double(blocksDuringFileWork);
    state.counters["longest_file_work_pct"] = 100.0 * double(longestDuringFileWork) / 1000.0 / periodUs;
    state.counters["longest_other_pct"] = 100.0 * double(longestOtherwise) / 1000.0 / periodUs;
    std::vector<std::int64_t>& cpu = times.cpuNanoseconds;
    std::sort(cpu.begin(), cpu.end());
    state.counters["longest_cpu_us"] = double(cpu.back()) / 1000.0;
    state.counters["longest_cpu_pct"] = 100.0 * double(cpu.back()) / 1000.0 / periodUs;
    state.counters["realtime"] = times.realtime ? 1 : 0;
    state.counters["page_faults"] = double(times.pageFaults);
}

/// A fixed amount of arithmetic, about `nanoseconds` long on this processor when nothing interferes.
class FixedWork {
  public:
    explicit FixedWork(double nanoseconds) {
        // The quickest of a few timed runs, so that a busy moment does not shorten the work.
        constexpr long kProbe = 200000;
        double best = 1e18;
        for (int i = 0; i < 5; ++i) {
            const auto begin = std::chrono::steady_clock::now();
            run(kProbe);
            best = std::min(best, double((std::chrono::steady_clock::now() - begin).count()));
        }
        iterations_ = std::max(1L, static_cast<long>(nanoseconds * kProbe / best));
    }
    void operator()() const { run(iterations_); }

  private:
    static void run(long iterations) {
        double x = 0.0;
        for (long i = 0; i < iterations; ++i) {
            x = x * 0.999 + 1.0;
            asm volatile("" : "+x"(x)); // keeps every step
        }
    }
    long iterations_;
};

/// The machine's own share of the worst case: the same pacing, with a fixed amount of work as long as
/// the render's median block in place of the render, once under the same stress and once with the
/// window thread asleep. What these show as their longest blocks came from the system and the machine
/// (on a virtual machine, the host taking the processor away), not from the render.
inline void reportMachineFloor(benchmark::State& state, int blockFrames, double renderMedianNs,
                               const std::function<void()>& stress) {
    const FixedWork work(renderMedianNs);
    const double periodUs = blockFrames * 1e6 / 44100;
    const auto measure = [&](const std::function<void()>& windowSide, const std::string& prefix) {
        BlockTimes floor = timeBlocksUnderStress(
            blockFrames, worstBlockSeconds(), 32767, [&work](std::int16_t*) { work(); }, windowSide);
        std::vector<std::int64_t>& ns = floor.nanoseconds;
        std::sort(ns.begin(), ns.end());
        state.counters[prefix + "median_us"] = double(ns[ns.size() / 2]) / 1000.0;
        state.counters[prefix + "p99.9_pct"] =
            100.0 * double(ns[std::min(ns.size() - 1, ns.size() * 999 / 1000)]) / 1000.0 / periodUs;
        state.counters[prefix + "longest_pct"] = 100.0 * double(ns.back()) / 1000.0 / periodUs;
    };
    measure(stress, "floor_");
    measure([] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); }, "idle_floor_");
}

/// A worst-block benchmark's loop: the paced run under stress and its report, then, `withFloor`, the
/// machine's own floor under the same stress.
inline void measureWorstBlock(benchmark::State& state, int blockFrames, int clipLevel,
                              const std::function<void(std::int16_t*)>& render,
                              const std::function<void()>& stress, bool withFloor) {
    for (auto _ : state) {
        reportBlockTimes(state,
                         timeBlocksUnderStress(blockFrames, worstBlockSeconds(), clipLevel, render, stress),
                         blockFrames);
        if (withFloor)
            reportMachineFloor(state, blockFrames, state.counters["median_us"] * 1000.0, stress);
    }
}

} // namespace bench
