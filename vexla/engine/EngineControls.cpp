// The window's start-up routine and engine buttons, shared with the headless renderer.
#include "vexla/engine/EngineControls.h"

#include "common/FindRow.h"
#include "vexla/engine/VcfFilterSetting.h"

namespace vexla {

namespace {
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
    engine.params.stepCount.store(count, std::memory_order_relaxed);
    engine.request(Request::Bass1);
    engine.request(Request::Bass2);
    return count;
}

const EngineButton* findEngineButton(std::string_view caption) {
    return common::findRow(std::span<const EngineButton>(kEngineButtons), &EngineButton::caption, caption);
}

bool pressButton(LoopEngine& engine, common::Random& windowRandom, std::string_view caption) {
    const EngineButton* button = findEngineButton(caption);
    if (button == nullptr)
        return false;
    button->press(engine, windowRandom);
    return true;
}

} // namespace vexla
