// Cost of the audio output service's own work per device callback: block hand-out and byte decoding.
#include "audio/AudioBackend.h"
#include "audio/AudioOutput.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

/// A device that lets the benchmark pull on its own thread.
class BenchDevice final : public audio::Backend {
public:
    int deviceCount() override { return 1; }
    const char* deviceName(int index) override { return index == 0 ? "Bench" : nullptr; }
    std::string openDeviceName() override { return "Bench"; }
    bool start(const audio::DeviceRequest&, audio::PullFunction p, void* c, std::string&) override {
        pull = p;
        context = c;
        return true;
    }
    void stop() override {}
    audio::PullFunction pull = nullptr;
    void* context = nullptr;
};

signed char fillBlock(FSOUND_STREAM*, void* buffer, int lengthBytes, void*) {
    std::memset(buffer, 0x11, static_cast<size_t>(lengthBytes));
    return 1;
}

// Device slices of state.range(0) frames from a stream of 2048-frame blocks.
void BM_PullDeviceSlice(benchmark::State& state) {
    auto owned = std::make_unique<BenchDevice>();
    BenchDevice* device = owned.get();
    audio::setBackendForTesting(std::move(owned));
    FSOUND_SetBufferSize(40);
    FSOUND_Init(44100, 16, 0);
    FSOUND_STREAM* stream = FSOUND_Stream_Create(&fillBlock, 2048 * 4, 121, 44100, nullptr);
    FSOUND_Stream_Play(-1, stream);
    const int frames = static_cast<int>(state.range(0));
    std::vector<std::int16_t> out(static_cast<size_t>(frames) * 2);
    for (auto _ : state) {
        device->pull(out.data(), frames, device->context);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);
    FSOUND_Stream_Close(stream);
    audio::setBackendForTesting(nullptr);
}
BENCHMARK(BM_PullDeviceSlice)->Arg(64)->Arg(256)->Arg(2048);

} // namespace
