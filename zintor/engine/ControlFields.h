// The engine-wide values the window sets, listed once: type, name and start value. The engine's atomics
// (SynthParams), the plain copy a scene holds (ControlState), the copy a block reads (BlockParams) and
// the hand-over between them are all made from this list; the control table in zintor/controls gives each
// its widget, range and mapping. Adding such a control: a line here, a row there, and the render that
// uses it.
#pragma once

// clang-format off
#define ZINTOR_CONTROL_FIELDS(X)                                                                            \
    X(std::int32_t, samplesPerStep, 5000) /* samples per step before shuffle, 661500 / BPM */               \
    X(std::int32_t, stepCount, 16)        /* steps in the pattern, 0..256 (0 repeats step 0) */             \
    X(std::int32_t, globalTranspose, -1)  /* semitones added to every synth note, -12..12 */                \
    X(std::int32_t, shuffleAmount, 0)     /* groove shuffle in 256ths of a step, 0..256 */                  \
    X(float, masterGain, 16384.0f)        /* gain on both channels after the mix, 0..24000 */               \
    X(float, subBassGain, 1.3f)           /* factor on the sub bass output, 0.001..2.0 */                   \
    X(std::int32_t, dcFilter, 0)          /* 1: a high-pass near 5 Hz takes the DC off the output */
// clang-format on
