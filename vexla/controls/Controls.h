// Vexla's controls, each declared once: the engine value it sets, its slider (range, start position,
// mapping and inverse, caption, place in the window), its scene key and its --set name. The window
// builds its sliders from this table; --set, --help, the start-up and the scene files read it.
// Plain data and pure functions: any thread.
#pragma once

#include "vexla/engine/EngineParams.h"
#include "vexla/engine/SceneState.h"

#include <span>
#include <string_view>

namespace vexla {

/// Where a slider sits in the window, in dialog units of the window's font.
struct SliderLook {
    int x, y, width, height;
    bool vertical = false;
    bool inverted = false; ///< position 0 at the top
    int singleStep = 1;
    int pageStep = 0;   ///< 0: an eighth of the range
    bool ticks = false; ///< a tick under every position
};

/// What the window shows for a control.
enum class ControlWidget {
    Slider,
    StepsBox,         ///< the Steps box, which "Set step!" reads
    SettingsCheckBox, ///< a check box in the Settings dialog: 0 off, 1 on
};

/// Where a control's value lives: the same-named member of EngineParams (an atomic) and of ControlValues
/// (a scene's plain copy). Values pass as double, which holds every float and int32 exactly.
struct ControlAccess {
    double (*load)(const EngineParams&);
    void (*store)(EngineParams&, double);
    double (*get)(const ControlValues&);
    void (*set)(ControlValues&, double);
};

/// One control of the machine.
struct Control {
    std::string_view name; ///< the engine field, the scene key and the --set name
    ControlAccess access;
    const char* objectName; ///< the widget's object name
    const char* caption;    ///< the widget's accessible name
    bool whole;             ///< a whole number
    int lowestPosition;
    int highestPosition;
    int startPosition;
    /// Position → engine value, in float as the engine holds it. `partner` is the value of the control
    /// named `partnerName`, for a mapping that also depends on it (the filters' feedback on the cutoff).
    float (*value)(int position, float partner);
    /// The inverse: the nearest position for a value.
    int (*position)(float value, float partner);
    std::string_view partnerName;
    ControlWidget widget;
    SliderLook look;
    /// The values the positions can give, computed from `value` over every position (and every position of
    /// the partner), as the engine holds them: what --set and scene files accept.
    float lowest = 0.0f;
    float highest = 0.0f;
};

/// Every control, in the window's order.
std::span<const Control> controls();

/// The control of that name, or nullptr.
const Control* findControl(std::string_view name);

/// The engine values of every control's start position.
void applyStartPositions(EngineParams& params);

/// The engine's control values, and the reverse (relaxed stores). Real-time safe.
ControlValues captureControls(const EngineParams& params);
void applyControls(EngineParams& params, const ControlValues& values);

} // namespace vexla
