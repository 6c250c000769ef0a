// The re-roll history: the part a generator is about to rewrite is kept, and stepping back or forward
// posts the kept part to the render.
#include "zintor/generators/ReRollHistory.h"

#include "zintor/engine/SynthEngine.h"
#include "zintor/generators/PhraseGenerators.h"

namespace zintor {

namespace {

const GeneratorButton kButtons[kGeneratorButtons] = {
    {"Synthline-1/Goa", &SynthEngine::synthLine1, generateGoa, kStateLine1Phrase},
    {"Synthline-1/FLAT Riff", &SynthEngine::synthLine1, generateFlatRiff, kStateLine1Phrase},
    {"Synthline-1/Psychedelic", &SynthEngine::synthLine1, generatePsychedelic, kStateLine1Phrase},
    {"Synthline-2/Goa", &SynthEngine::synthLine2, generateGoa, kStateLine2Phrase},
    {"Synthline-2/Flat riff", &SynthEngine::synthLine2, generateFlatRiff, kStateLine2Phrase},
    {"Synthline-2/Psychedelic", &SynthEngine::synthLine2, generatePsychedelic, kStateLine2Phrase},
    {"Sub bass synth/Generate", &SynthEngine::subBass, generateSubBass, kStateSubBass},
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

SynthState captureLatest(const SynthEngine& engine) {
    SynthState state = captureState(engine);
    SynthState posted;
    unsigned parts = 0;
    if (engine.statePending(posted, parts))
        copyStateParts(state, posted, parts);
    return state;
}

void ReRollHistory::press(const GeneratorButton& button, common::Random& windowRandom) {
    engine_.settlePostedState();
    history_.record(Entry{captureState(engine_), button.part});
    button.generate(engine_.*(button.voice), windowRandom);
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
