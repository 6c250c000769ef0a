// One frame at a time through the units' run renders, for tests that follow a unit frame by frame.
// Test thread only.
#pragma once

#include "common/Random.h"
#include "vexla/engine/BassVoice.h"
#include "vexla/engine/HatVoice.h"
#include "vexla/engine/KickVoice.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/engine/RingModulator.h"
#include "vexla/engine/SineVoice.h"
#include "vexla/engine/SlicerVoice.h"
#include "vexla/engine/StretchLooper.h"

#include <cstdint>

namespace vexla::testing {

/// One output frame as the stream stores it.
struct OutputFrame {
    std::int16_t left = 0;
    std::int16_t right = 0;
};

struct StereoFrame {
    float left = 0.0f;
    float right = 0.0f;
};

inline StereoFrame renderOne(StretchLooper& looper, float gain) {
    StereoFrame out;
    looper.render(&out.left, &out.right, 1, gain);
    return out;
}

inline StereoFrame renderOne(SlicerVoice& slicer) {
    StereoFrame out;
    slicer.render(&out.left, &out.right, 1, 1.0f);
    return out;
}

inline float renderOne(RingModulator& modulator, float input) {
    float out = 0.0f;
    modulator.render(&input, &out, 1);
    return out;
}

inline float renderOne(KickVoice& kick, float volume) {
    float out = 0.0f;
    kick.render(&out, 1, volume);
    return out;
}

inline float renderOne(HatVoice& hats, common::Random& random) {
    float out = 0.0f;
    hats.render(&out, 1, random, 1.0f);
    return out;
}

inline float renderOne(SineVoice& sine) {
    float out = 0.0f;
    sine.render(&out, 1, 1.0f);
    return out;
}

/// One frame of a bass voice whose clip is wide open; sampleInStep is the frame's advanced step counter.
inline float renderOne(BassVoice& bass, float volume, int sampleInStep) {
    float out = 0.0f;
    bass.render(&out, 1, volume, sampleInStep, sampleInStep);
    return out;
}

/// One frame of the whole engine through renderBlock.
inline OutputFrame renderOne(LoopEngine& engine) {
    OutputFrame out;
    engine.renderBlock(&out, 4);
    return out;
}

} // namespace vexla::testing
