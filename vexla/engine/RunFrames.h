// The length of a run: the frames each unit renders at a time. A run never crosses a step boundary.
#pragma once

namespace vexla {

/// The most frames one call of a unit's render() takes; its scratch lines are this long.
inline constexpr int kMaxRunFrames = 64;

} // namespace vexla
