// Speed of the sample files: a recorded frame on the audio thread, and loading a sample.
#include "common/WavRecorder.h"
#include "vexla/samples/SampleLoader.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

std::string tempPath(const char* name) {
    return "/tmp/vz-bench-" + std::to_string(::getpid()) + "-" + name;
}

// One writeFrame as the audio thread calls it, with the writer thread draining to disk.
void BM_WriteFrame(benchmark::State& state) {
    common::WavRecorder recorder;
    const std::string path = tempPath("rec.wav");
    recorder.open(path.c_str(), 44100, 16, 2);
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(recorder.writeFrame(i, -i));
        ++i;
        // Real time delivers 44100 frames a second; pause every block of 512 so the ring never overflows.
        if ((i & 511) == 0) {
            state.PauseTiming();
            while (recorder.framesWritten() + 100000 < static_cast<std::uint64_t>(i))
                ::usleep(100);
            state.ResumeTiming();
        }
    }
    recorder.finish();
    state.counters["dropped"] = static_cast<double>(recorder.framesDropped());
    ::unlink(path.c_str());
}
BENCHMARK(BM_WriteFrame);

// Loading 10 seconds of stereo sound at the given width.
void BM_LoadTenSeconds(benchmark::State& state) {
    const int format = static_cast<int>(state.range(0));
    const std::string path = tempPath("load.wav");
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<float> frames(44100 * 10 * 2);
    for (std::size_t n = 0; n < frames.size(); ++n)
        frames[n] = 0.5f * std::sin(0.01f * static_cast<float>(n));
    sf_writef_float(f, frames.data(), 44100 * 10);
    sf_close(f);
    vexla::SampleSlot slot;
    for (auto _ : state) {
        const vexla::LoadResult result = vexla::loadSampleFile(path.c_str(), slot);
        if (!result)
            state.SkipWithError(result.reason.c_str());
    }
    state.SetItemsProcessed(state.iterations() * 441000);
    ::unlink(path.c_str());
}
BENCHMARK(BM_LoadTenSeconds)
    ->Arg(SF_FORMAT_WAV | SF_FORMAT_PCM_16)
    ->Arg(SF_FORMAT_WAV | SF_FORMAT_PCM_24)
    ->Arg(SF_FORMAT_WAV | SF_FORMAT_FLOAT)
    ->Arg(SF_FORMAT_FLAC | SF_FORMAT_PCM_16)
    ->Unit(benchmark::kMillisecond);

} // namespace
