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
        freq1_ = startFreq.load(std::memory_order_relaxed);
        freq2_ = 2.0f * freq1_;
        phase1_ = 0.0f;
        phase2_ = 0.0f;
    }

    /// One frame; volume in sample units.
    float render(float volume) {
        takeSilence();
        float phase1, phase2;
        advance(slide1.load(std::memory_order_relaxed), phase1, phase2);
        return output(fastSin(phase1), fastSin(phase2), volume);
    }

    // The same frame in parts, for a render that works out many frames' sines together: beginRun() once
    // (it takes generate()'s silence), then per frame advance() with slide1 as read at the start of the run,
    // and output() on the sines of the two phases it gave.
    void beginRun() { takeSilence(); }

    /// Gives the phases whose sines this frame sounds, then moves both partials one frame on.
    void advance(float slide, float& phase1, float& phase2) {
        phase1 = phase1_;
        phase2 = phase2_;
        phase1_ += freq1_; // never wrapped: a trigger resets it every four steps
        phase2_ += freq2_;
        if (phase2_ > 6.28f)
            phase2_ -= 6.28f;
        freq1_ -= slide;
        freq2_ -= slide * 12.0f;
        if (freq1_ < 0.0f)
            freq1_ = 0.0f;
        if (freq2_ < 0.0f)
            freq2_ = 0.0f;
    }

    static float output(float sine1, float sine2, float volume) { return sine1 * volume + sine2 * volume * 0.5f; }

    std::atomic<float> startFreq{0.0f}; ///< radians per frame at a trigger, 0.06..0.0907617
    std::atomic<float> slide1{0.0f};    ///< freq1 decrement per frame; freq2 falls 12 times as fast

    float freq1() const { return freq1_; }
    float freq2() const { return freq2_; }

private:
    // generate() may run on the window thread, so it cannot write the render's phase and frequency
    // directly: it counts a silence request that the render takes at its next frame.
    void takeSilence() {
        const std::uint32_t requested = silenceRequests_.load(std::memory_order_relaxed);
        if (requested != silencesTaken_) {
            silencesTaken_ = requested;
            freq1_ = 0.0f;
            phase1_ = 0.0f;
        }
    }

    std::atomic<std::uint32_t> silenceRequests_{0};
    std::uint32_t silencesTaken_ = 0;
    float phase1_ = 0.0f;
    float phase2_ = 0.0f;
    float freq1_ = 0.0f;
    float freq2_ = 0.0f;
};

} // namespace vexla
