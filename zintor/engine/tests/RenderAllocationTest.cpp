// The render allocates nothing: every allocation in this binary is counted while a render runs.
#include "zintor/engine/SynthEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

// The replaced operator new and delete below pair malloc with free themselves.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define COUNT_MALLOC 1
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
}
#endif

namespace {
std::atomic<bool> counting{false};
std::atomic<int> allocations{0};
void noteAllocation() {
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
}
// Uncounted allocation for operator new, so that one new counts once.
void* rawAllocate(std::size_t size) {
#ifdef COUNT_MALLOC
    return __libc_malloc(size ? size : 1);
#else
    return std::malloc(size ? size : 1);
#endif
}
} // namespace

void* operator new(std::size_t size) {
    noteAllocation();
    if (void* p = rawAllocate(size))
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

// malloc itself, through glibc's own entry points; sanitizers bring their own allocator.
#ifdef COUNT_MALLOC
extern "C" {
void* malloc(std::size_t size) {
    noteAllocation();
    return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) {
    noteAllocation();
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t size) {
    noteAllocation();
    return __libc_realloc(p, size);
}
}
#endif

namespace zintor {
namespace {

TEST(SynthEngineRender, AllocatesNothingStoppedOrPlaying) {
    auto engine = std::make_unique<SynthEngine>();
    for (int i = 0; i < 256; ++i) {
        engine->synthLine1.staccato[i].store(i % 2, std::memory_order_relaxed);
        engine->synthLine2.notes[i].store(static_cast<std::int8_t>(i % 12), std::memory_order_relaxed);
    }
    engine->synthLine2.filterType.store(2, std::memory_order_relaxed);
    std::vector<std::int16_t> buffer(2 * 1000);

    // The counter itself must see an allocation, or the test proves nothing.
    counting = true;
    auto* probe = new int(1);
    void* raw = std::malloc(8);
    counting = false;
    delete probe;
    std::free(raw);
#ifdef COUNT_MALLOC
    ASSERT_EQ(allocations.load(), 2);
#else
    ASSERT_EQ(allocations.load(), 1);
#endif
    allocations = 0;

    counting = true;
    for (int block = 0; block < 50; ++block)
        engine->renderBlock(buffer.data(), 4000);
    engine->params.playing.store(true, std::memory_order_relaxed);
    engine->params.shuffleAmount.store(200, std::memory_order_relaxed);
    for (int block = 0; block < 200; ++block)
        engine->renderBlock(buffer.data(), 4000);
    counting = false;
    EXPECT_EQ(allocations.load(), 0);
}

} // namespace
} // namespace zintor
