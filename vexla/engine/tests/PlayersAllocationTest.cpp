// Proves that the players' and effects' audio-thread operations allocate nothing, also while the
// randomisers rewrite their tables and the loopers are restarted and stopped.
#include <gtest/gtest.h>

#include <atomic>
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
    SampleSlot mono, stereo;
    test::fillSlot(mono, 30000, [](std::int32_t i) { return static_cast<std::int16_t>(i * 3); });
    test::fillSlot(stereo, 20000, [](std::int32_t i) { return static_cast<std::int16_t>(i); },
                   [](std::int32_t i) { return static_cast<std::int16_t>(-i); });
    StretchLooper dry(stereo), second(mono), vcf1(mono, true), vcf2(stereo, true);
    SlicerVoice slicer(stereo);
    RingModulator modulator;
    auto echo = std::make_unique<EchoUnit>(5000);
    SecondLooperSends sends;
    common::Random random(5);

    const long before = allocations.load();
    float sum = 0.0f;
    for (int step = 0; step < 48; ++step) {
        for (StretchLooper* looper : {&second, &dry, &vcf1, &vcf2}) {
            if (step % 16 == 0) looper->restart(16, 2000);
            if (step == 20) looper->stop();
        }
        slicer.stepLoad(step % 16);
        if (step % 5 == 0) {
            modulator.alterAm(random);
            echo->alterEcho(random, 2000);
            slicer.generateSlicer(random, 16);
            alterSecondLooper(sends, random);
        }
        for (int frame = 0; frame <= 2000; ++frame) {
            const float in = dry.render(0.5f).left + second.render(0.5f).left + slicer.render().right;
            const StereoFrame e = echo->process(modulator.render(in), vcf1.render(0.5f, 0.4f, 1.2f).right +
                                                                          vcf2.render(0.5f, 0.6f, 1.6f).left);
            sum += e.left + e.right;
        }
    }
    EXPECT_EQ(allocations.load() - before, 0);
    EXPECT_NE(sum, 0.0f);
}

} // namespace
} // namespace vexla
