// The values the window sets continuously and the engine reads once per block: the parameter block,
// each voice's sound controls, the kick's controls and the noise drums' presets, all relaxed atomics
// written whole by the window thread. Also the values the render reports back (peaks, playing step, the
// master it follows).
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
    /// While the engine follows a master clock: its tempo in BPM (0 until known; kept when it goes quiet)
    /// and whether it plays. The window shows them; the engine's own tempo control stays the window's.
    std::atomic<float> followedBpm{0.0f};
    std::atomic<bool> masterPlaying{false};
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
#define ZN_ATOMIC_FIELD(type, name, start) std::atomic<type> name{start};
    ZINTOR_KICK_FIELDS(ZN_ATOMIC_FIELD)

    KickParams read() const {
        KickParams p;
#define ZN_READ_FIELD(type, name, start) p.name = name.load(std::memory_order_relaxed);
        ZINTOR_KICK_FIELDS(ZN_READ_FIELD)
        return p;
    }
};

/// A noise drum's preset (set once at start-up; no window control).
struct NoiseControls {
    ZINTOR_NOISE_FIELDS(ZN_ATOMIC_FIELD)
#undef ZN_ATOMIC_FIELD

    NoiseParams read() const {
        NoiseParams p;
        ZINTOR_NOISE_FIELDS(ZN_READ_FIELD)
#undef ZN_READ_FIELD
        return p;
    }
};

} // namespace zintor
