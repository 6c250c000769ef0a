// The window controls' formulas (slider position → engine value) and their start positions, shared by
// the window and the headless start-up. Pure functions and constants; any thread.
#pragma once

#include "zintor/engine/SynthEngine.h"

namespace zintor {

// Synth-line sliders. Positions are integers; values are computed in double and stored as float.
/// Position 1..1000.
inline float inertiaFromPosition(int pos) {
    return static_cast<float>(pos * 1e-6);
}
/// Position 1..1000.
inline float cutoffFromPosition(int pos) {
    return static_cast<float>(pos * 0.001);
}
/// Position 1..970.
inline float resonanceFromPosition(int pos) {
    return static_cast<float>(pos * 0.001);
}
/// Position 1..950.
inline float driveCeilingFromPosition(int pos) {
    return static_cast<float>((1000 - pos) * 0.001);
}
/// Position 1..800.
inline float delaySendFromPosition(int pos) {
    return static_cast<float>(pos * 0.001);
}
/// Position 1..400.
inline float volumeFromPosition(int pos) {
    return static_cast<float>(pos * 0.001);
}
// Filter type: the position itself (0..2). Osc Mix: VoiceControls::setOscMix(pos) (0..256).

// Kick sliders.
/// Position 50..1500.
inline float startIncrementFromPosition(int pos) {
    return static_cast<float>(pos * 0.001);
}
/// Position 850..999.
inline float pitchDecayFromPosition(int pos) {
    return static_cast<float>(pos * 0.001);
}
/// Position 0..900.
inline float kickVolumeFromPosition(int pos) {
    return static_cast<float>(pos * 0.001);
}

/// Sub bass "Volume", 1..2000.
inline float subBassGainFromPosition(int pos) {
    return static_cast<float>(pos * 0.001);
}
/// Master slider, 0..24000 with the top at 0: the top is loudest.
inline float masterGainFromPosition(int pos) {
    return static_cast<float>(24000 - pos);
}

/// samplesPerStep for a tempo in BPM; callers accept only 32..1023.
inline int samplesPerStepFromBpm(int bpm) {
    return kStepFramesPerMinute / bpm;
}
/// The tempo in force for a samplesPerStep (what "Set to %d" shows).
inline int bpmFromSamplesPerStep(int samplesPerStep) {
    return kStepFramesPerMinute / samplesPerStep;
}

inline constexpr int kMinBpm = 32;
inline constexpr int kMaxBpm = 1023;

/// A range of slider positions with the start position.
struct SliderRange {
    int minimum;
    int maximum;
    int initial;
};

/// The eight sliders of one synth-line group.
struct SynthLineSliders {
    SliderRange filterType;
    SliderRange inertia;
    SliderRange cutoff;
    SliderRange resonance;
    SliderRange overdrive;
    SliderRange delaySend;
    SliderRange oscMix;
    SliderRange volume;
};

inline constexpr SynthLineSliders kSynthLine1Sliders{{0, 2, 0},     {1, 1000, 500}, {1, 1000, 500},
                                                     {1, 970, 500}, {1, 950, 500},  {1, 800, 500},
                                                     {0, 256, 128}, {1, 400, 200}};
inline constexpr SynthLineSliders kSynthLine2Sliders{{0, 2, 0},     {1, 1000, 2},  {1, 1000, 2},
                                                     {1, 970, 500}, {1, 950, 500}, {1, 800, 600},
                                                     {0, 256, 128}, {1, 400, 100}};

inline constexpr SliderRange kKickAttackSlider{50, 1500, 50};
inline constexpr SliderRange kKickDecaySlider{850, 999, 999};
inline constexpr SliderRange kKickVolumeSlider{0, 900, 800};
inline constexpr SliderRange kSubBassVolumeSlider{1, 2000, 1300};
inline constexpr SliderRange kMasterSlider{0, 24000, 7616};
inline constexpr SliderRange kGlobalTransposeSlider{-12, 12, -1};
inline constexpr SliderRange kGrooveShuffleSlider{0, 256, 0};
inline constexpr int kInitialStepCount = 16;
inline constexpr int kInitialBpmText = 132; ///< shown, not applied until "Set"

/// Writes the eight synth-line values of the given slider positions (each field's `initial`) to a voice.
inline void applySynthLinePositions(VoiceControls& voice, const SynthLineSliders& s) {
    constexpr auto relaxed = std::memory_order_relaxed;
    voice.filterType.store(s.filterType.initial, relaxed);
    voice.inertia.store(inertiaFromPosition(s.inertia.initial), relaxed);
    voice.cutoff.store(cutoffFromPosition(s.cutoff.initial), relaxed);
    voice.resonance.store(resonanceFromPosition(s.resonance.initial), relaxed);
    voice.driveCeiling.store(driveCeilingFromPosition(s.overdrive.initial), relaxed);
    voice.delaySend.store(delaySendFromPosition(s.delaySend.initial), relaxed);
    voice.setOscMix(s.oscMix.initial);
    voice.volume.store(volumeFromPosition(s.volume.initial), relaxed);
}

} // namespace zintor
