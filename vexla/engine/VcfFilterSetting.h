// A VCF looper's filter values from its two slider positions. Pure; any thread.
#pragma once

namespace vexla {

struct VcfFilterSetting {
    float cutoff;   ///< c = position / 128, forced into 0.05..0.95
    float feedback; ///< q + q / (1 − c), q = resonance position / 128 forced into 0.05..0.95
};

/// cutoffPosition and resonancePosition are slider positions 0..128.
VcfFilterSetting vcfFilterFromSliders(int cutoffPosition, int resonancePosition);

} // namespace vexla
