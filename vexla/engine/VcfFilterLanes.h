// Four resonant low-passes as the lanes of one vector, so that a frame of all four costs about what one
// did: the two VCF loopers' left and right filters. Each lane does exactly what ResonantLowpass::process
// does, in the same order, so the output is the same. Audio thread only.
#pragma once

#include "vexla/engine/ResonantLowpass.h"

#include <array>
#include <xmmintrin.h>

namespace vexla {

class VcfFilterLanes {
public:
    /// Takes the four filters' states and settings; finish() hands the states back.
    explicit VcfFilterLanes(const std::array<ResonantLowpass*, 4>& filters) : filters_(filters) {
        const auto lanes = [&filters](float ResonantLowpass::*field) {
            return _mm_setr_ps(filters[0]->*field, filters[1]->*field, filters[2]->*field, filters[3]->*field);
        };
        cutoff_ = lanes(&ResonantLowpass::cutoff);
        feedback_ = lanes(&ResonantLowpass::feedback);
        stage1_ = lanes(&ResonantLowpass::stage1);
        stage2_ = lanes(&ResonantLowpass::stage2);
    }

    /// One input per lane; returns each lane's low-pass output.
    __m128 process(__m128 x) {
        // stage1 + cutoff × ((x − stage1) + feedback × (stage1 − stage2))
        const __m128 drive = _mm_add_ps(_mm_sub_ps(x, stage1_), _mm_mul_ps(feedback_, _mm_sub_ps(stage1_, stage2_)));
        stage1_ = _mm_add_ps(stage1_, _mm_mul_ps(cutoff_, drive));
        stage2_ = _mm_add_ps(stage2_, _mm_mul_ps(cutoff_, _mm_sub_ps(stage1_, stage2_)));
        return stage2_;
    }

    /// Hands the states back, except to the lanes marked in `keep`, whose filters stay as they were.
    void finish(const std::array<bool, 4>& keep) {
        alignas(16) float stage1[4], stage2[4];
        _mm_store_ps(stage1, stage1_);
        _mm_store_ps(stage2, stage2_);
        for (int lane = 0; lane < 4; ++lane) {
            if (keep[lane])
                continue;
            filters_[lane]->stage1 = stage1[lane];
            filters_[lane]->stage2 = stage2[lane];
        }
    }

private:
    std::array<ResonantLowpass*, 4> filters_;
    __m128 cutoff_, feedback_, stage1_, stage2_;
};

} // namespace vexla
