// One frame of a unit's output as left and right floats, in sample units. Plain value; any thread.
#pragma once

namespace vexla {

struct StereoFrame {
    float left = 0.0f;
    float right = 0.0f;
};

} // namespace vexla
