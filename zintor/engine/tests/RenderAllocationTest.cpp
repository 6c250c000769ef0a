// The render allocates nothing, stopped or playing, while it serves posted changes and while a recording
// runs: every allocation made on the rendering thread is counted around renderBlock().
#include "zintor/engine/SynthEngine.h"

#include "common/WavRecorder.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include <unistd.h>

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
thread_local bool counting = false; // only the thread that renders is watched
std::atomic<int> allocations{0};
void noteAllocation() {
    if (counting)
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

void renderCounted(SynthEngine& engine, std::vector<std::int16_t>& buffer, int blocks) {
    counting = true;
    for (int block = 0; block < blocks; ++block)
        engine.renderBlock(buffer.data(), static_cast<int>(buffer.size()) * 2);
    counting = false;
}

TEST(SynthEngineRender, AllocatesNothingStoppedPlayingServingChangesOrRecording) {
    auto engine = std::make_unique<SynthEngine>();
    PhraseState phrase;
    for (int i = 0; i < kPhraseSteps; ++i) {
        phrase.staccato[i] = static_cast<std::uint8_t>(i % 2);
        phrase.notes[i] = static_cast<std::int8_t>(i % 12);
    }
    engine->synthLine2.filterType.store(2, std::memory_order_relaxed);
    engine->subBass.filterType.store(1, std::memory_order_relaxed);
    std::vector<std::int16_t> buffer(2 * 1000);

    // The counter itself must see an allocation, or the test proves nothing.
    counting = true;
    int* volatile probe = new int(1); // volatile: the pair must not be optimised away
    void* volatile raw = std::malloc(8);
    counting = false;
    delete probe;
    std::free(raw);
#ifdef COUNT_MALLOC
    ASSERT_EQ(allocations.load(), 2);
#else
    ASSERT_EQ(allocations.load(), 1);
#endif
    allocations = 0;

    const std::string path =
        (std::filesystem::temp_directory_path() / ("zintor-alloc-" + std::to_string(::getpid()) + ".wav"))
            .string();
    // A ring that holds the whole render (250 000 frames): the writer thread need not run meanwhile, so
    // that a busy machine cannot make the ring overflow and drop frames.
    common::WavRecorder recorder(1u << 18);
    ASSERT_EQ(recorder.open(path.c_str(), kSampleRate, 16, 2), common::WavRecorder::kOk);
    engine->setRecorder(&recorder);
    SynthState state = captureState(*engine);
    state.controls.samplesPerStep = 700; // many boundaries in a short render

    engine->sendPhrase(kSynthLine1, phrase);
    engine->postState(state, kStateEverything); // taken while stopped
    renderCounted(*engine, buffer, 50);
    engine->params.playing.store(true, std::memory_order_relaxed);
    engine->params.shuffleAmount.store(200, std::memory_order_relaxed);
    for (int round = 0; round < 40; ++round) {
        engine->sendPhrase(kSynthLine2, phrase, 0.3f);
        if (round % 5 == 0)
            engine->postState(state, kStateLine2Phrase | kStateControls); // taken at a boundary
        renderCounted(*engine, buffer, 5);
    }
    EXPECT_EQ(allocations.load(), 0);

    engine->setRecorder(nullptr);
    EXPECT_EQ(recorder.finish(), common::WavRecorder::kOk);
    EXPECT_EQ(recorder.framesWritten(), 250u * 1000u);
    std::remove(path.c_str());
}

} // namespace
} // namespace zintor
