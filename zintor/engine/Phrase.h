// A synth voice's phrase: 256 steps of note, staccato flag and filter-envelope rate, with the voice's
// character (detune, filter LFO, waveform) that the phrase generators roll together with it. A plain
// value: the window builds one and hands it to the render whole.
#pragma once

#include <array>
#include <cstdint>

namespace zintor {

inline constexpr int kPhraseSteps = 256;

struct PhraseState {
    std::array<std::int8_t, kPhraseSteps> notes{};     ///< semitones per step
    std::array<std::uint8_t, kPhraseSteps> staccato{}; ///< nonzero: released after a third or half step
    std::array<float, kPhraseSteps> envRates{};        ///< added to the filter envelope per sample
    float detune = 0.2f;                               ///< oscillator 2 above oscillator 1, semitones
    float lfoDepth = 0.5f;                             ///< amplitude of the cutoff oscillator
    float lfoRate = 0.0001f;                           ///< cutoff oscillator, radians per sample
    bool square = false;                               ///< square oscillators instead of saw
    bool operator==(const PhraseState&) const = default;
};

} // namespace zintor
