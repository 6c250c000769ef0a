// The engine's whole sound state as plain values: control values, every generated table and
// coefficient, and the echo setting. A value type; any thread may copy it.
#pragma once

#include "vexla/engine/ControlFields.h"

#include <array>
#include <cstdint>

namespace vexla {

inline constexpr int kSceneSteps = 64;

/// Engine values that the window's controls set, as plain values.
struct ControlValues {
#define VX_PLAIN_FIELD(type, name, start) type name = start;
    VEXLA_CONTROL_FIELDS(VX_PLAIN_FIELD)
#undef VX_PLAIN_FIELD
    bool operator==(const ControlValues&) const = default;
};

struct BassPattern {
    std::array<std::int32_t, kSceneSteps> notes{};
    std::array<std::int32_t, kSceneSteps> gates{};
    std::int32_t mode = 0;
    float clip = 0.0f;
    float echoSend = 0.0f;
    float resonance = 0.0f;
    float envelopeRate = 0.0f;
    float pwmLfoRate = 0.0f, pwmLfoDepth = 0.0f;       ///< the pulse width's slow sine
    float cutoffLfoRate = 0.0f, cutoffLfoDepth = 0.0f; ///< the cutoff's slow sine
    bool operator==(const BassPattern&) const = default;
};

struct KickPattern {
    float startFreq = 0.0f;
    float slide1 = 0.0f;
    bool operator==(const KickPattern&) const = default;
};

struct HatPattern {
    std::array<float, kSceneSteps> levels{};
    std::array<float, kSceneSteps> decays{};
    std::int32_t accentOff = 0;
    float echoSend = 0.3f;
    bool operator==(const HatPattern&) const = default;
};

struct SinePattern {
    std::array<std::int32_t, kSceneSteps> notes{};
    std::array<float, kSceneSteps> levels{};
    std::array<float, kSceneSteps> decays{};
    float echoSend = 0.0f;
    bool operator==(const SinePattern&) const = default;
};

struct SlicerPattern {
    std::array<std::int32_t, kSceneSteps> slices{};
    std::array<float, kSceneSteps> decays{};
    float echoSend = 0.0f;
    float amSend = 0.0f;
    bool operator==(const SlicerPattern&) const = default;
};

struct AmSetting {
    float amBassSineSend = 0.0f, amHatSend = 0.0f; ///< what the modulator takes in
    float carrierRate = 0.0f;
    float sweepRate = 0.0f, sweepDepth = 0.0f; ///< the carrier's sweep
    float amEchoSend = 0.0f;
    bool operator==(const AmSetting&) const = default;
};

struct SecondLooperSetting {
    float echoSend = 0.0f;
    float amSend = 0.0f;
    bool operator==(const SecondLooperSetting&) const = default;
};

/// Which parts of a SceneState to restore; or them together.
enum ScenePart : unsigned {
    kSceneControls = 1u << 0,  ///< every ControlValues field, stepCount included
    kSceneStepCount = 1u << 1, ///< stepCount alone (what "Sequence" and "Set step!" change)
    kSceneBass1 = 1u << 2,
    kSceneBass2 = 1u << 3,
    kSceneKick = 1u << 4,
    kSceneHats = 1u << 5,
    kSceneSine = 1u << 6,
    kSceneSlicer = 1u << 7,
    kSceneAm = 1u << 8,
    kSceneEcho = 1u << 9,
    kSceneSecondLooper = 1u << 10,
    /// The five voices whose randomisers run on the audio thread: restored at a step boundary.
    kSceneRequestedVoices = kSceneBass1 | kSceneBass2 | kSceneKick | kSceneHats | kSceneSine,
    /// Every generated table and coefficient: what the window keeps its own copy of (the echo apart).
    kScenePatterns = kSceneRequestedVoices | kSceneSlicer | kSceneAm | kSceneSecondLooper,
    kSceneEverything = (1u << 11) - 1,
};

struct SceneState {
    ControlValues controls;
    BassPattern bass1;
    BassPattern bass2;
    KickPattern kick;
    HatPattern hats;
    SinePattern sine;
    SlicerPattern slicer;
    AmSetting am;
    SecondLooperSetting secondLooper;
    std::int32_t echoReadPos = 0; ///< echo read position with writes at 65535, 0..65535
    bool operator==(const SceneState&) const = default;
};

/// Copies the parts in `parts` from `from` into `to`.
void copySceneParts(SceneState& to, const SceneState& from, unsigned parts);

} // namespace vexla
