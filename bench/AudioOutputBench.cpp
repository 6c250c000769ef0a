// Cost of the sound output's own work per device pull: handing the source's blocks out in device slices.
#include "audio/AudioBackend.h"
#include "audio/AudioOutput.h"

#include <benchmark/benchmark.h>

#include <chrono>
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
    bool start(const audio::DeviceRequest&, audio::PullFunction devicePull, void* devicePullContext,
               std::string&) override {
        pull = devicePull;
        context = devicePullContext;
        return true;
    }
    void stop() override {}
    audio::PullFunction pull = nullptr;
    void* context = nullptr;
};

/// Costs what the old byte callback cost: one memset of the block.
struct FillSource final : audio::Source {
    void render(std::int16_t* interleavedStereo, int frames) override {
        std::memset(interleavedStereo, 0x11, static_cast<size_t>(frames) * 2 * sizeof(std::int16_t));
    }
};

// Device slices of state.range(0) frames from a source of 2048-frame blocks.
void BM_PullDeviceSlice(benchmark::State& state) {
    auto owned = std::make_unique<BenchDevice>();
    BenchDevice* device = owned.get();
    FillSource source;
    audio::AudioOutput output(std::move(owned), std::chrono::milliseconds(2000));
    output.start(source, {0, 2048, 40});
    const int frames = static_cast<int>(state.range(0));
    std::vector<std::int16_t> out(static_cast<size_t>(frames) * 2);
    for (auto _ : state) {
        device->pull(out.data(), frames, device->context);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);
}
BENCHMARK(BM_PullDeviceSlice)->Arg(64)->Arg(256)->Arg(2048);

} // namespace
