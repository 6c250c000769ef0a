// Every engine value a control of the window sets, listed once: type, name and start value. The
// engine's atomics (EngineParams), the plain copy a block and a scene hold (ControlValues) and the
// per-block read are all made from this list; the control table in vexla/controls gives each its
// widget, range and mapping. Adding a control: a line here, a row there, and the render that uses it.
#pragma once

// clang-format off
#define VEXLA_CONTROL_FIELDS(X)                                                                             \
    X(std::int32_t, stepCount, 16)        /* steps in the sequence, 3..64 */                                \
    X(std::int32_t, samplesPerStep, 5000) /* a step lasts samplesPerStep + 1 frames, 2000..20000 */         \
    X(std::int32_t, transpose, 0)         /* semitones, -12..12 */                                          \
    X(float, masterGain, 0.875f)          /* gain on both channels after the mix */                         \
    X(float, kickVolume, 8192.0f)         /* sample units */                                                \
    X(float, bass1Volume, 2048.0f)        /* sample units */                                                \
    X(float, bass2Volume, 1024.0f)        /* sample units */                                                \
    X(float, hatVolume, 0.125f)                                                                             \
    X(float, sineVolume, 0.125f)                                                                            \
    X(float, dryLooperGain, 0.0f)                                                                           \
    X(float, secondLooperGain, 0.0f)                                                                        \
    X(float, vcf1Gain, 0.0f)                                                                                \
    X(float, vcf2Gain, 0.5f)                                                                                \
    X(float, slicerGain, 0.0f)                                                                              \
    X(float, vcf1Cutoff, 0.5f)                                                                              \
    X(float, vcf1Feedback, 1.5f)                                                                            \
    X(float, vcf2Cutoff, 0.5f)                                                                              \
    X(float, vcf2Feedback, 1.5f)                                                                            \
    X(std::int32_t, dcFilter, 0)          /* 1: a high-pass near 5 Hz takes the DC off the output */
// clang-format on
