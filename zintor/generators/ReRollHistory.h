// Undo and redo of the synth's re-rolls: each of the seven generator buttons first keeps what it is about
// to change. Window thread only; a state stepped back to is handed to the render, which takes it whole at
// the next step boundary.
#pragma once

#include "common/Random.h"
#include "common/UndoHistory.h"
#include "zintor/engine/SynthState.h"
#include "zintor/generators/PhraseGenerators.h"

#include <cstddef>
#include <string_view>

namespace zintor {

class SynthEngine;

/// The engine's state as it will be once a posted, not yet taken, state is in: what the window sees.
inline SynthState captureLatest(const SynthEngine& engine) {
    return captureState(engine);
}

/// A generator button: its caption as the command line names it, the voice and the part it changes.
struct GeneratorButton {
    const char* caption; ///< "Synthline-1/Goa" … "Sub bass synth/Generate"
    int voice;           ///< kSynthLine1, kSynthLine2 or kSubBass
    Generator generate;
    unsigned part; ///< kStateLine1Phrase, kStateLine2Phrase or kStateSubBass
};

/// Runs a button's generator with the window's random numbers (see runGenerator()).
void pressGenerator(SynthEngine& engine, const GeneratorButton& button, common::Random& windowRandom);

/// The seven buttons, in the window's order: line 1 Goa, FLAT Riff, Psychedelic; line 2 the same; sub bass.
inline constexpr int kGeneratorButtons = 7;
const GeneratorButton* generatorButtons();
/// The button with this caption, or null.
const GeneratorButton* findGeneratorButton(std::string_view caption);

class ReRollHistory : public common::PartsHistory<ReRollHistory, SynthState> {
  public:
    static constexpr std::size_t kDepth = 128;

    explicit ReRollHistory(SynthEngine& engine) : PartsHistory(kDepth), engine_(engine) {}
    ReRollHistory(const ReRollHistory&) = delete;
    ReRollHistory& operator=(const ReRollHistory&) = delete;

    /// Runs a button's generator on its voice with the window's random numbers, keeping first what it
    /// changes. A state still waiting is taken before the new phrase, which it cannot overwrite.
    void press(const GeneratorButton& button, common::Random& windowRandom);

  private:
    friend PartsHistory;
    SynthState present() { return captureLatest(engine_); }
    void restore(const SynthState& state, unsigned parts);

    SynthEngine& engine_;
};

} // namespace zintor
