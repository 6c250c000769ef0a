// The synth engine's parameter block: values the window writes and the render reads, and the two peak
// levels the render reports back. Any thread may read or write; every access is relaxed.
#pragma once

#include <atomic>
#include <cstdint>

namespace zintor {

struct SynthParams {
    std::atomic<std::int32_t> samplesPerStep{5000}; ///< samples per step before shuffle, 661500 / BPM
    std::atomic<std::int32_t> stepCount{16};        ///< steps in the pattern, 0..256 (0 repeats step 0)
    std::atomic<std::int32_t> globalTranspose{-1};  ///< semitones added to every synth note, −12..12
    std::atomic<std::int32_t> shuffleAmount{0};     ///< groove shuffle in 256ths of a step, 0..256
    std::atomic<float> masterGain{16384.0f};        ///< gain on both channels after the mix, 0..24000
    std::atomic<float> subBassGain{1.3f};           ///< factor on the sub bass output, 0.001..2.0
    std::atomic<bool> playing{false}; ///< the sequencer runs and the voices sound only while set

    // Written by the render only.
    std::atomic<std::int32_t> peakLeft{0};  ///< peak-hold level of the left output, 0..32767
    std::atomic<std::int32_t> peakRight{0}; ///< peak-hold level of the right output, 0..32767
    /// The step the sequencer last started, 0..255; stays where the sequence stands while stopped.
    std::atomic<std::int32_t> playingStep{0};
};

} // namespace zintor
