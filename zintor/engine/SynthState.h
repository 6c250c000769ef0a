// The synth's whole sound state as plain values: the controls' engine values, the three phrases and the
// voices' character and sound fields. A value type, any thread may copy it; captureState/applyState touch
// only atomics, so they are real-time safe (applyState from the window thread may be heard mid-step:
// SynthEngine::postState lands it at a step boundary instead).
#pragma once

#include <array>
#include <cstdint>

namespace zintor {

class SynthEngine;

inline constexpr int kStatePhraseSteps = 256;

/// The values the window's sliders and fields write, and the drums' fixed presets.
struct ControlState {
    std::int32_t samplesPerStep = 5000;
    std::int32_t stepCount = 16;
    std::int32_t globalTranspose = -1;
    std::int32_t shuffleAmount = 0;
    float masterGain = 16384.0f;
    float subBassGain = 1.3f;
    float kickStartIncrement = 0.05f;
    float kickPitchDecay = 0.99f;
    float kickVolume = 0.8f;
    float hitDecay = 0.998f;
    float hitTone = 0.5f;
    float snareDecay = 0.998f;
    float snareTone = 0.5f;
    float hatDecay = 0.998f;
    float hatTone = 0.5f;
    bool operator==(const ControlState&) const = default;
};

/// What a phrase generator writes into a voice: the phrase and the voice's character.
struct PhraseState {
    std::array<std::int8_t, kStatePhraseSteps> notes{};
    std::array<std::uint8_t, kStatePhraseSteps> staccato{};
    std::array<float, kStatePhraseSteps> envRates{};
    float detune = 0.2f;
    float lfoDepth = 0.5f;
    float lfoRate = 0.0001f;
    bool square = false;
    bool operator==(const PhraseState&) const = default;
};

/// A voice's sound fields: the synth lines' sliders, or what the sub bass's generator sets.
struct VoiceSound {
    std::int32_t filterType = 0;
    float cutoff = 0.5f;
    float resonance = 0.5f;
    float driveCeiling = 0.5f;
    float volume = 0.5f;
    float inertia = 0.0f;
    float delaySend = 0.5f;
    float osc1Level = 1.0f;
    float osc2Level = 1.0f;
    bool operator==(const VoiceSound&) const = default;
};

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

/// The engine's current values (a state posted but not yet taken is not included).
SynthState captureState(const SynthEngine& engine);

/// Writes the parts `parts` of `state` into the engine (relaxed atomic stores).
void applyState(SynthEngine& engine, const SynthState& state, unsigned parts);

/// Copies the parts `parts` from `from` into `to`.
void copyStateParts(SynthState& to, const SynthState& from, unsigned parts);

} // namespace zintor
