// The render allocates nothing while it takes a posted state and hands frames to a recorder: every
// operator new in this binary is counted while the render runs.
#include "zintor/engine/SynthEngine.h"

#include "common/WavRecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

// The replaced operator new and delete below pair malloc with free themselves.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<bool> counting{false};
std::atomic<int> allocations{0};
} // namespace

void* operator new(std::size_t size) {
    if (counting.load(std::memory_order_relaxed))
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

TEST(HandOverAllocation, TakingStatesAndRecordingAllocateNothing) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("zintor-alloc-" + std::to_string(::getpid()) + ".wav"))
            .string();
    auto engine = std::make_unique<SynthEngine>();
    common::WavRecorder recorder;
    ASSERT_EQ(recorder.open(path.c_str(), kSampleRate, 16, 2), common::WavRecorder::kOk);
    engine->setRecorder(&recorder);
    SynthState state = captureState(*engine);
    state.controls.samplesPerStep = 700; // many boundaries in a short render
    for (auto& note : state.synthLine2.phrase.notes)
        note = 3;
    std::vector<std::int16_t> block(2 * 512);

    counting = true;
    engine->postState(state, kStateEverything); // taken while stopped
    engine->renderBlock(block.data(), 512 * 4);
    engine->params.playing.store(true, std::memory_order_relaxed);
    for (int i = 0; i < 40; ++i) {
        if (i % 5 == 0)
            engine->postState(state, kStateLine2Phrase | kStateControls); // taken at a boundary
        engine->renderBlock(block.data(), 512 * 4);
    }
    counting = false;

    EXPECT_EQ(allocations.load(), 0);
    engine->setRecorder(nullptr);
    EXPECT_EQ(recorder.finish(), common::WavRecorder::kOk);
    EXPECT_EQ(recorder.framesWritten(), 41u * 512u);
    std::remove(path.c_str());
}

} // namespace
} // namespace zintor
