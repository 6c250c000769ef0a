// Two-pole resonant low-pass of the basslines and the filtered loopers. Audio thread only.
#pragma once

namespace vexla {

struct ResonantLowpass {
    float cutoff = 0.0f;   ///< coefficient f, kept in 0.05..0.95
    float feedback = 0.0f; ///< q + q / (1 − f) for resonance q
    float stage1 = 0.0f;
    float stage2 = 0.0f;

    /// What the loopers' cutoff and resonance sliders give, each: inside it the filter stays stable.
    static constexpr float kLowestSetting = 0.05f;
    static constexpr float kHighestSetting = 0.95f;

    /// Feedback for resonance q at the current cutoff.
    static float feedbackFor(float q, float f) { return q + q / (1.0f - f); }

    /// Filters one input; returns the low-pass output (the new second stage).
    float process(float x) {
        stage1 = stage1 + cutoff * (x - stage1 + feedback * (stage1 - stage2));
        stage2 = stage2 + cutoff * (stage1 - stage2);
        return stage2;
    }
};

} // namespace vexla
