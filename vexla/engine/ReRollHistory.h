// Undo and redo of the loop machine's re-rolls: every randomiser a button runs first keeps what it is
// about to change. Window thread only (the requested voices come back at the render's next step boundary).
#pragma once

#include "common/Random.h"
#include "common/UndoHistory.h"
#include "vexla/engine/SceneState.h"

#include <cstddef>
#include <string_view>

namespace vexla {

class LoopEngine;

/// The engine's state as it will be once a posted, not yet taken, state is in: what the window sees.
SceneState captureLatest(const LoopEngine& engine);

/// Restores parts of a state: the controls and the requested voices at the next step boundary (their
/// pending requests dropped), the window's own randomisers' values at once.
void restoreScene(LoopEngine& engine, const SceneState& state, unsigned parts);

class ReRollHistory : public common::PartsHistory<ReRollHistory, SceneState> {
  public:
    static constexpr std::size_t kDepth = 128;

    explicit ReRollHistory(LoopEngine& engine) : PartsHistory(kDepth), engine_(engine) {}

    /// The parts the randomiser of a button changes ("Set step!" included); 0 for other captions.
    static unsigned partsOf(std::string_view caption);

    /// Keeps the current state of `parts` before a re-roll changes them.
    void keep(unsigned parts);

    /// Presses an engine button (see pressButton), keeping what it changes; false for an unknown caption.
    /// A request already pending for the same voice keeps nothing: the press changes nothing more.
    bool press(common::Random& windowRandom, std::string_view caption);

  private:
    friend PartsHistory;
    SceneState present();
    void restore(const SceneState& state, unsigned parts);

    LoopEngine& engine_;
};

} // namespace vexla
