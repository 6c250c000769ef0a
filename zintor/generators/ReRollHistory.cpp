// The re-roll history: the part a generator is about to rewrite is kept, and stepping back or forward
// posts the kept part to the render.
#include "zintor/generators/ReRollHistory.h"

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
    for (const GeneratorButton& b : kButtons)
        if (caption == b.caption)
            return &b;
    return nullptr;
}

void pressGenerator(SynthEngine& engine, const GeneratorButton& button, common::Random& windowRandom) {
    runGenerator(engine, button.voice, button.generate, windowRandom);
}

void ReRollHistory::press(const GeneratorButton& button, common::Random& windowRandom) {
    history_.record(Entry{captureState(engine_), button.part});
    pressGenerator(engine_, button, windowRandom);
}

bool ReRollHistory::undo() {
    const Entry* top = history_.peekUndo();
    if (!top)
        return false;
    const unsigned parts = top->parts;
    const auto back = history_.undo(Entry{captureLatest(engine_), parts});
    engine_.postState(back->state, back->parts);
    return true;
}

bool ReRollHistory::redo() {
    const Entry* top = history_.peekRedo();
    if (!top)
        return false;
    const unsigned parts = top->parts;
    const auto forward = history_.redo(Entry{captureLatest(engine_), parts});
    engine_.postState(forward->state, forward->parts);
    return true;
}

} // namespace zintor
