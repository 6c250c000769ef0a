// The re-roll history: the part a generator is about to rewrite is kept, and stepping back or forward
// posts the kept part to the render.
#include "zintor/generators/ReRollHistory.h"

#include "common/FindRow.h"
#include "zintor/engine/SynthEngine.h"

namespace zintor {

namespace {

const GeneratorButton kButtons[kGeneratorButtons] = {
    {"Synthline-1/Goa", kSynthLine1, generateGoa, kStateLine1Phrase},
    {"Synthline-1/FLAT Riff", kSynthLine1, generateFlatRiff, kStateLine1Phrase},
    {"Synthline-1/Psychedelic", kSynthLine1, generatePsychedelic, kStateLine1Phrase},
    {"Synthline-2/Goa", kSynthLine2, generateGoa, kStateLine2Phrase},
    {"Synthline-2/Flat riff", kSynthLine2, generateFlatRiff, kStateLine2Phrase},
    {"Synthline-2/Psychedelic", kSynthLine2, generatePsychedelic, kStateLine2Phrase},
    {"Sub bass synth/Generate", kSubBass, generateSubBass, kStateSubBass},
};

} // namespace

const GeneratorButton* generatorButtons() {
    return kButtons;
}

const GeneratorButton* findGeneratorButton(std::string_view caption) {
    return common::findRow(std::span<const GeneratorButton>(kButtons), &GeneratorButton::caption, caption);
}

void pressGenerator(SynthEngine& engine, const GeneratorButton& button, common::Random& windowRandom) {
    runGenerator(engine, button.voice, button.generate, windowRandom);
}

void ReRollHistory::press(const GeneratorButton& button, common::Random& windowRandom) {
    keepState(captureState(engine_), button.part);
    pressGenerator(engine_, button, windowRandom);
}

void ReRollHistory::restore(const SynthState& state, unsigned parts) {
    engine_.postState(state, parts);
}

} // namespace zintor
