// The values the window sets continuously and the engine reads once per block: the parameter block,
// each voice's sound controls, the kick's controls and the noise drums' presets, all relaxed atomics
// written whole by the window thread. Also the values the render reports back (peaks, playing step).
#pragma once

#include "zintor/engine/ControlFields.h"
#include "zintor/engine/KickDrum.h"
#include "zintor/engine/NoiseDrum.h"
#include "zintor/engine/SynthVoice.h"

#include <atomic>
#include <cstdint>

namespace zintor {

struct SynthParams {
#define ZN_ATOMIC_FIELD(type, name, start) std::atomic<type> name{start};
    ZINTOR_CONTROL_FIELDS(ZN_ATOMIC_FIELD)
#undef ZN_ATOMIC_FIELD
    std::atomic<bool> playing{false}; ///< the sequencer runs and the voices sound only while set

    // Written by the render only.
    std::atomic<std::int32_t> peakLeft{0};  ///< peak-hold level of the left output, 0..32767
    std::atomic<std::int32_t> peakRight{0}; ///< peak-hold level of the right output, 0..32767
    /// The step the sequencer last started, 0..255; stays where the sequence stands while stopped.
    std::atomic<std::int32_t> playingStep{0};
};

/// One synth voice's sound controls (the sliders of a synth line; the sub bass's generator sets its own).
struct VoiceControls {
#define ZN_ATOMIC_FIELD(type, name, start) std::atomic<type> name{start};
    ZINTOR_VOICE_FIELDS(ZN_ATOMIC_FIELD)
#undef ZN_ATOMIC_FIELD

    /// Osc Mix position 0..256: 0 only oscillator 1, 128 both at full level, 256 only oscillator 2.
    void setOscMix(int position) {
        const float x = static_cast<float>(position) * 0.0078125f;
        osc2Level.store(x < 1.0f ? x : 1.0f, std::memory_order_relaxed);
        const float level1 = 2.0f - x;
        osc1Level.store(level1 < 1.0f ? level1 : 1.0f, std::memory_order_relaxed);
    }

    VoiceParams read() const {
        VoiceParams p;
#define ZN_READ_FIELD(type, name, start) p.name = name.load(std::memory_order_relaxed);
        ZINTOR_VOICE_FIELDS(ZN_READ_FIELD)
#undef ZN_READ_FIELD
        return p;
    }
};

/// The kick's controls ("Kick" group).
struct KickControls {
    std::atomic<float> startIncrement{0.05f}; ///< radians per sample at the strike, 0.05..1.5
    std::atomic<float> pitchDecay{0.99f};     ///< factor on the increment per sample, 0.85..0.999
    std::atomic<float> volume{0.8f};          ///< output gain, 0..0.9

    KickParams read() const {
        constexpr auto kRelaxed = std::memory_order_relaxed;
        return KickParams{startIncrement.load(kRelaxed), pitchDecay.load(kRelaxed), volume.load(kRelaxed)};
    }
};

/// A noise drum's preset (set once at start-up; no window control).
struct NoiseControls {
    std::atomic<float> decay{0.998f}; ///< factor on the level per sample, below 1
    std::atomic<float> tone{0.5f};    ///< coefficient of both smoothing stages, 0..1

    NoiseParams read() const {
        return NoiseParams{decay.load(std::memory_order_relaxed), tone.load(std::memory_order_relaxed)};
    }
};

} // namespace zintor
