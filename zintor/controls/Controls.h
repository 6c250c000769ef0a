// Zintor's sliders, each declared once: the engine value it sets, its range and start position, its
// mapping and inverse, its caption and place, its scene value and its --set name. The window builds its
// sliders from this table; the start-up, --set and --help read it. Plain data: any thread.
#pragma once

#include "zintor/engine/SynthEngine.h"
#include "zintor/engine/SynthState.h"

#include <span>
#include <string>
#include <string_view>

namespace zintor {

/// Where a slider's value lives: in the engine (atomics) and in a scene's plain state. Values pass as
/// double, which holds every float and int32 exactly.
struct ControlAccess {
    double (*load)(const SynthEngine&);
    void (*store)(SynthEngine&, double);
    double (*get)(const SynthState&);
    void (*set)(SynthState&, double);
};

/// Where a slider sits: its group box, its row (label above, slider below) in dialog units.
enum class ControlGroup { SynthLine1, SynthLine2, Kick, SubBass, Master, Control, Transpose };

struct Control {
    std::string name; ///< the --set name: "masterGain", "synthLine1.cutoff", "kick.volume"
    /// The key in the scene's group ("controls", "synthLine1" or "synthLine2"); "" for Osc Mix, whose
    /// two oscillator levels the scene holds instead.
    std::string sceneKey;
    ControlAccess access;
    ControlGroup group;
    std::string objectName;     ///< the slider's object name, without "Slider"
    const char* caption;        ///< the label above the slider
    std::string accessibleName; ///< what a screen reader says
    int lowestPosition;
    int highestPosition;
    int startPosition;
    /// Position → engine value, in float as the engine holds it (whole values are exact).
    float (*value)(int position);
    /// The inverse: the nearest position for a value.
    int (*position)(double value);
    double x, y, width;    ///< the row in window dialog units
    bool checkBox = false; ///< a check box (0 off, 1 on) in place of a slider
    /// The values the positions can give, computed from `value`: what --set accepts.
    bool whole = false; ///< every position gives its own whole number (the value is the position)
    float lowest = 0.0f;
    float highest = 0.0f;
};

/// The scene group that holds a control's value.
const char* sceneGroup(const Control& control);

/// Every slider, in the window's order.
std::span<const Control> controls();

/// The control of that --set name, or nullptr.
const Control* findControl(std::string_view name);

/// Writes every slider's start value into the engine.
void applyStartPositions(SynthEngine& engine);

// The tempo is typed as BPM and the step count as a number; neither is a slider.
inline constexpr int kMinBpm = 32;
inline constexpr int kMaxBpm = 1023;
inline constexpr int kMaxSteps = kMaxStepCount;
inline constexpr int kInitialStepCount = 16;
inline constexpr int kInitialBpmText = 132; ///< shown, not applied until "Set"

/// samplesPerStep for a tempo in BPM; callers accept only kMinBpm..kMaxBpm.
inline int samplesPerStepFromBpm(int bpm) {
    return kStepFramesPerMinute / bpm;
}
/// The tempo in force for a samplesPerStep (what "Set to %d" shows).
inline int bpmFromSamplesPerStep(int samplesPerStep) {
    return kStepFramesPerMinute / samplesPerStep;
}

} // namespace zintor
