// Serving an opened scene or an undo step inside the render allocates nothing.
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/engine/Scene.h"
#include "vexla/engine/tests/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>

extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_calloc(std::size_t, std::size_t);
extern "C" void* __libc_realloc(void*, std::size_t);
extern "C" void __libc_free(void*);

namespace {
// Counted only on the thread that renders, so the recorder's writer thread does not disturb the count.
thread_local bool counting = false;
std::atomic<long> allocations{0};

void note() {
    if (counting)
        allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

extern "C" void* malloc(std::size_t size) {
    note();
    return __libc_malloc(size);
}
extern "C" void* calloc(std::size_t n, std::size_t size) {
    note();
    return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, std::size_t size) {
    note();
    return __libc_realloc(p, size);
}
extern "C" void free(void* p) { __libc_free(p); }

void* operator new(std::size_t size) {
    note();
    if (void* p = __libc_malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, std::align_val_t align) {
    note();
    void* p = nullptr;
    if (posix_memalign(&p, static_cast<std::size_t>(align), size ? size : 1) != 0)
        throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t size, std::align_val_t align) { return operator new(size, align); }
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete[](void* p) noexcept { __libc_free(p); }
void operator delete(void* p, std::size_t) noexcept { __libc_free(p); }
void operator delete[](void* p, std::size_t) noexcept { __libc_free(p); }
void operator delete(void* p, std::align_val_t) noexcept { __libc_free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { __libc_free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { __libc_free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { __libc_free(p); }

namespace vexla {
namespace {

long countAllocations(const std::function<void()>& work) {
    const long before = allocations.load();
    counting = true;
    work();
    counting = false;
    return allocations.load() - before;
}

TEST(SceneRender, TakingAPostedSceneAllocatesNothing) {
    common::Random window;
    auto engine = std::make_unique<LoopEngine>();
    startUp(*engine, window, 77);
    testing::makeEverythingSound(*engine, window);
    engine->params.samplesPerStep = 2000;
    auto other = std::make_unique<LoopEngine>();
    startUp(*other, window, 78);
    const SceneState scenes[2] = {captureScene(*engine), captureScene(*other)};
    std::vector<std::int16_t> buffer(2 * 512);
    long total = 0;
    for (int round = 0; round < 40; ++round) {
        engine->postScene(scenes[round % 2], kSceneEverything);
        total += countAllocations([&] {
            for (int block = 0; block < 10; ++block)
                engine->renderBlock(buffer.data(), static_cast<int>(buffer.size() * 2));
        });
        ASSERT_TRUE(captureScene(*engine) == scenes[round % 2]);
    }
    EXPECT_EQ(total, 0);
}

} // namespace
} // namespace vexla
