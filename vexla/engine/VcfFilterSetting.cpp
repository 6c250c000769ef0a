// The VCF loopers' slider formula.
#include "vexla/engine/VcfFilterSetting.h"

#include "vexla/engine/ResonantLowpass.h"

#include <algorithm>

namespace vexla {

VcfFilterSetting vcfFilterFromSliders(int cutoffPosition, int resonancePosition) {
    const float c = std::clamp(static_cast<float>(cutoffPosition) / 128.0f, 0.05f, 0.95f);
    const float q = std::clamp(static_cast<float>(resonancePosition) / 128.0f, 0.05f, 0.95f);
    return {c, ResonantLowpass::feedbackFor(q, c)};
}

} // namespace vexla
