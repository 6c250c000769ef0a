// The voices' render and step operations never allocate: operator new is counted around them.
#include "zintor/engine/KickDrum.h"
#include "zintor/engine/NoiseDrum.h"
#include "zintor/engine/SynthVoice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> allocations{0};
} // namespace

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace zintor {
namespace {

TEST(VoiceAllocation, RenderingAllocatesNothing) {
    SynthVoice voice;
    KickDrum kick;
    NoiseDrum hat;
    common::Random random;
    for (int i = 0; i < SynthVoice::kPhraseSteps; ++i) {
        voice.notes[i] = static_cast<std::int8_t>(i % 25 - 12);
        voice.staccato[i] = static_cast<std::uint8_t>(i % 2);
        voice.envRates[i] = 0.0001f;
    }
    const long counted = allocations.load();
    int* volatile probe = new int(1); // the hook sees allocations
    delete probe;
    ASSERT_EQ(allocations.load() - counted, 1);

    float chunk[100];
    int draws[100];
    const long before = allocations.load();
    float sink = 0.0f;
    for (int step = 0; step < 256; ++step) {
        voice.filterType = step % 3;
        voice.triggerStep(step, 500, -1, random);
        kick.strike();
        hat.strike();
        if (step % 2 == 0) {
            for (int i = 0; i < 500; ++i)
                sink += voice.renderSample(0.05f) + kick.renderSample() + hat.renderSample(random);
        } else {
            for (int start = 0; start < 500; start += 100) {
                for (int& d : draws)
                    d = random.next();
                voice.render(chunk, 100, 0.05f);
                kick.render(chunk, 100);
                hat.render(chunk, 100, draws, 1);
                sink += chunk[99];
            }
        }
    }
    EXPECT_EQ(allocations.load() - before, 0);
    EXPECT_TRUE(std::isfinite(sink));
}

} // namespace
} // namespace zintor
