// The window's start-up routine and engine buttons, shared with the headless renderer.
#include "vexla/engine/EngineControls.h"

#include "vexla/engine/VcfFilterSetting.h"

namespace vexla {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kSequenceStepCounts[6] = {3, 8, 12, 16, 24, 32};
} // namespace

void startUp(LoopEngine& engine, common::Random& windowRandom, std::uint32_t seed) {
    windowRandom.seed(seed);
    engine.echo.clear();
    engine.regenerateAll(windowRandom);
    applyStartPositions(engine.params);
    engine.generateSine(windowRandom);
    // The tempo slider's first report re-rolls the echo delay.
    engine.alterEcho(windowRandom);
}

int pressSequence(LoopEngine& engine, common::Random& windowRandom) {
    const int count = kSequenceStepCounts[windowRandom.below(6)];
    engine.params.stepCount.store(count, kRelaxed);
    engine.request(Request::Bass1);
    engine.request(Request::Bass2);
    return count;
}

bool pressButton(LoopEngine& engine, common::Random& windowRandom, std::string_view caption) {
    if (caption == "Sequence")
        pressSequence(engine, windowRandom);
    else if (caption == "AM Alter")
        engine.alterAm(windowRandom);
    else if (caption == "Echo Alter")
        engine.alterEcho(windowRandom);
    else if (caption == "Kick")
        engine.request(Request::Kick);
    else if (caption == "Bassline 1")
        engine.request(Request::Bass1);
    else if (caption == "Bassline 2")
        engine.request(Request::Bass2);
    else if (caption == "Sine")
        engine.request(Request::Sine);
    else if (caption == "HiHats")
        engine.request(Request::Hats);
    else if (caption == "2nd Looper")
        engine.alterSecondLooper(windowRandom);
    else if (caption == "Slicer")
        engine.generateSlicer(windowRandom);
    else
        return false;
    return true;
}

} // namespace vexla
