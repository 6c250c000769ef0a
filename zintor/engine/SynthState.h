// The synth's whole sound state as plain values: the controls' engine values, the three phrases and the
// voices' character and sound fields. A value type, any thread may copy it; captureState() and
// applyState() on the window thread.
#pragma once

#include "zintor/engine/ControlFields.h"
#include "zintor/engine/KickDrum.h"
#include "zintor/engine/NoiseDrum.h"
#include "zintor/engine/Phrase.h"
#include "zintor/engine/SynthVoice.h"

#include <cstdint>

namespace zintor {

class SynthEngine;

inline constexpr int kStatePhraseSteps = kPhraseSteps;

/// The values the window's sliders and fields write, and the drums' fixed presets.
struct ControlState {
#define ZN_PLAIN_FIELD(type, name, start) type name = start;
    ZINTOR_CONTROL_FIELDS(ZN_PLAIN_FIELD)
#undef ZN_PLAIN_FIELD
    KickParams kick;
    NoiseParams hit;
    NoiseParams snare;
    NoiseParams hat;
    bool operator==(const ControlState&) const = default;
};

/// A voice's sound fields: the synth lines' sliders, or what the sub bass's generator sets.
using VoiceSound = VoiceParams;

struct VoiceState {
    PhraseState phrase;
    VoiceSound sound;
    bool operator==(const VoiceState&) const = default;
};

/// Which parts of a SynthState to restore; or them together.
enum StatePart : unsigned {
    kStateControls = 1u << 0,    ///< ControlState and the two synth lines' sound fields (the sliders)
    kStateLine1Phrase = 1u << 1, ///< what "Goa", "FLAT Riff" and "Psychedelic" of line 1 change
    kStateLine2Phrase = 1u << 2, ///< the same for line 2
    kStateSubBass = 1u << 3,     ///< the sub bass's phrase and sound: what its "Generate" changes
    kStateEverything = (1u << 4) - 1,
};

struct SynthState {
    ControlState controls;
    VoiceState synthLine1;
    VoiceState synthLine2;
    VoiceState subBass;
    bool operator==(const SynthState&) const = default;
};

/// The engine's state as the window sees it: its controls and the phrases it has sent, with what a
/// posted, not yet taken, state holds.
SynthState captureState(const SynthEngine& engine);
/// The controls' values as the atomics hold them now (phrases left at their defaults).
SynthState captureLiveControls(const SynthEngine& engine);

/// Only while no render runs (start-up, the command line, tests): the parts `parts` of `state` at once.
void applyState(SynthEngine& engine, const SynthState& state, unsigned parts);

/// Audio thread, from a posted state: writes the controls of `parts` of `state` into the engine's
/// atomics, each only if it still holds its value in `before`, so that a later window write wins.
void replaceControls(SynthEngine& engine, const SynthState& state, const SynthState& before, unsigned parts);

/// Copies the parts `parts` from `from` into `to`.
void copyStateParts(SynthState& to, const SynthState& from, unsigned parts);

/// What a posted state does to the controls of `parts` in `controls`: each one that still holds its
/// value from `before` takes its value from `target` (one the window has moved since keeps it).
void chainControls(const SynthEngine& engine, SynthState& controls, const SynthState& before,
                   const SynthState& target, unsigned parts);

} // namespace zintor
