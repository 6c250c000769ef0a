// Reading the window's controls for one block.
#include "vexla/engine/ParamSnapshot.h"

namespace vexla {

ParamSnapshot readParams(const EngineParams& p) {
    constexpr auto r = std::memory_order_relaxed;
    ParamSnapshot s;
    s.running = p.running.load(r);
    s.recording = p.recording.load(r);
    ControlValues& c = s.controls;
#define VX_READ_FIELD(type, name, start) c.name = p.name.load(r);
    VEXLA_CONTROL_FIELDS(VX_READ_FIELD)
#undef VX_READ_FIELD
    return s;
}

} // namespace vexla
