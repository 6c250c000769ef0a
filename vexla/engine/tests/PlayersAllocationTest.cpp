// Proves that the players' and effects' audio-thread operations allocate nothing, also while the
// randomisers rewrite their tables and the loopers are restarted and stopped.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>

#include "vexla/engine/EchoUnit.h"
#include "vexla/engine/RingModulator.h"
#include "vexla/engine/SlicerVoice.h"
#include "vexla/engine/StretchLooper.h"
#include "vexla/engine/tests/SlotFactory.h"

namespace {
std::atomic<long> allocations{0};
} // namespace

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace vexla {
namespace {

TEST(PlayersRender, AllocatesNothing) {
    SampleSlot mono;
    SampleSlot stereo;
    test::fillSlot(mono, 30000, [](std::int32_t i) { return static_cast<std::int16_t>(i * 3); });
    test::fillSlot(stereo, 20000, [](std::int32_t i) { return static_cast<std::int16_t>(i); },
                   [](std::int32_t i) { return static_cast<std::int16_t>(-i); });
    StretchLooper dry(stereo);
    StretchLooper second(mono);
    StretchLooper vcf1(mono, true);
    StretchLooper vcf2(stereo, true);
    SlicerVoice slicer(stereo);
    RingModulator modulator;
    auto echo = std::make_unique<EchoUnit>(5000);
    SecondLooperSends sends;
    common::Random window(5);
    common::Random audio;

    const long before = allocations.load();
    float sum = 0.0f;
    for (int step = 0; step < 48; ++step) {
        if (step % 16 == 0) {
            for (StretchLooper* looper : {&second, &dry, &vcf1, &vcf2}) looper->restart(16, 2000);
        }
        if (step == 20) {
            for (StretchLooper* looper : {&second, &dry, &vcf1, &vcf2}) looper->stop();
        }
        slicer.stepLoad(step % 16);
        if (step % 5 == 0) {
            modulator.alterAm(audio);
            echo->alterEcho(window, 2000);
            slicer.generateSlicer(window, 16);
            alterSecondLooper(sends, window);
        }
        for (int frame = 0; frame <= 2000; ++frame) {
            const StereoFrame d = dry.render(0.5f);
            const StereoFrame s = second.render(0.5f);
            const StereoFrame v1 = vcf1.render(0.5f, 0.4f, 1.2f);
            const StereoFrame v2 = vcf2.render(0.5f, 0.6f, 1.6f);
            const StereoFrame sl = slicer.render();
            const float m = modulator.render(s.left + sl.left);
            const StereoFrame e = echo->process(m + d.left, v1.right + v2.left);
            sum += e.left + e.right;
        }
    }
    EXPECT_EQ(allocations.load() - before, 0);
    EXPECT_TRUE(std::isfinite(sum));
}

} // namespace
} // namespace vexla
