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

/// A synth voice's sound fields, listed once: the window's atomics (VoiceControls), the plain copy a block
/// reads and a scene holds (VoiceParams, alias VoiceSound) and the read between them are made from it.
#define ZINTOR_VOICE_FIELDS(X)                                                                              \
    X(std::int32_t, filterType, 0)   /* 0 low-pass, 1 high-pass, 2 ring modulator */                        \
    X(float, cutoff, 0.5f)           /* base cutoff, 0.001..1 */                                            \
    X(float, resonance, 0.5f)        /* 0.001..0.97 */                                                      \
    X(float, driveCeiling, 0.5f)     /* overdrive clip level, 0.05..0.999; the output is divided by it */   \
    X(float, volume, 0.5f)           /* output gain, 0.001..0.4 */                                          \
    X(float, inertia, 0.0f)          /* largest fall of the smoothed cutoff per sample, 0..0.001 */         \
    X(float, delaySend, 0.5f)        /* share sent to the delay, 0.001..0.8 (synth lines only) */           \
    X(float, osc1Level, 1.0f)        /* 0..1 */                                                             \
    X(float, osc2Level, 1.0f)        /* 0..1 */

/// The kick's controls ("Kick" group) and a noise drum's preset, listed once in the same way.
#define ZINTOR_KICK_FIELDS(X)                                                                               \
    X(float, startIncrement, 0.05f)  /* radians per sample at the strike, 0.05..1.5 */                      \
    X(float, pitchDecay, 0.99f)      /* factor on the increment per sample, 0.85..0.999 */                  \
    X(float, volume, 0.8f)           /* output gain, 0..0.9 */
#define ZINTOR_NOISE_FIELDS(X)                                                                              \
    X(float, decay, 0.998f)          /* factor on the level per sample, below 1 */                          \
    X(float, tone, 0.5f)             /* coefficient of both smoothing stages, 0..1 */
// clang-format on
