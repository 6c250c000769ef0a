// The kick: two falling sine partials, retriggered every fourth step. trigger() and render() on the
// audio thread only; generate() on either thread (its values are atomics, its reset is handed over).
#pragma once

#include "common/Random.h"
#include "vexla/engine/FastSine.h"

#include <atomic>
#include <cstdint>

namespace vexla {

class KickVoice {
public:
    KickVoice() = default;
    KickVoice(const KickVoice&) = delete;
    KickVoice& operator=(const KickVoice&) = delete;

    /// New start frequency and slide; silences the first partial until the next trigger.
    void generate(common::Random& random);

    void trigger() {
        takeSilence();
        state_.freq1 = startFreq.load(std::memory_order_relaxed);
        state_.freq2 = 2.0f * state_.freq1;
        state_.phase1 = 0.0f;
        state_.phase2 = 0.0f;
    }

    /// One frame; volume in sample units.
    float render(float volume) {
        takeSilence();
        float phase1, phase2;
        state_.advance(slide1.load(std::memory_order_relaxed), phase1, phase2);
        return output(fastSin(phase1), fastSin(phase2), volume);
    }

    /// The frame in parts, for a render that works out many frames' sines together, with the state in
    /// locals for the run so that it stays in registers: the run takes generate()'s silence at its start,
    /// advance() gives the phases whose sines each frame sounds (slide1 as read at the start of the run),
    /// output() takes their sines, and finish() hands the state back. Nothing else may touch the voice meanwhile.
    class Run;

    static float output(float sine1, float sine2, float volume) { return sine1 * volume + sine2 * volume * 0.5f; }

    std::atomic<float> startFreq{0.0f}; ///< radians per frame at a trigger, 0.06..0.0907617
    std::atomic<float> slide1{0.0f};    ///< freq1 decrement per frame; freq2 falls 12 times as fast

    float freq1() const { return state_.freq1; }
    float freq2() const { return state_.freq2; }

private:
    // generate() may run on the window thread, so it cannot write the render's phase and frequency
    // directly: it counts a silence request that the render takes at its next frame.
    void takeSilence() {
        const std::uint32_t requested = silenceRequests_.load(std::memory_order_relaxed);
        if (requested != silencesTaken_) {
            silencesTaken_ = requested;
            state_.freq1 = 0.0f;
            state_.phase1 = 0.0f;
        }
    }

    std::atomic<std::uint32_t> silenceRequests_{0};
    std::uint32_t silencesTaken_ = 0;

    struct State {
        float phase1 = 0.0f;
        float phase2 = 0.0f;
        float freq1 = 0.0f;
        float freq2 = 0.0f;

        /// Gives the phases whose sines this frame sounds, then moves both partials one frame on.
        void advance(float slide, float& phase1Out, float& phase2Out) {
            phase1Out = phase1;
            phase2Out = phase2;
            phase1 += freq1; // never wrapped: a trigger resets it every four steps
            phase2 += freq2;
            if (phase2 > 6.28f)
                phase2 -= 6.28f;
            freq1 -= slide;
            freq2 -= slide * 12.0f;
            if (freq1 < 0.0f)
                freq1 = 0.0f;
            if (freq2 < 0.0f)
                freq2 = 0.0f;
        }
    };
    State state_;
};

class KickVoice::Run {
public:
    explicit Run(KickVoice& voice) : voice_(voice) {
        voice.takeSilence();
        state_ = voice.state_;
    }
    void advance(float slide, float& phase1, float& phase2) { state_.advance(slide, phase1, phase2); }
    void finish() { voice_.state_ = state_; }

private:
    KickVoice& voice_;
    State state_;
};

} // namespace vexla
