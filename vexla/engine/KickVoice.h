// The kick: two falling sine partials, retriggered every fourth step. trigger() and render() on the
// audio thread only; generate() on either thread (its values are atomics, its reset is handed over).
#pragma once

#include "common/Random.h"

#include <atomic>
#include <cmath>
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
        // A partial whose frequency has slid to 0 holds its phase: reuse its sine.
        if (phase1_ != sinPhase1_) {
            sinPhase1_ = phase1_;
            sin1_ = std::sin(phase1_);
        }
        if (phase2_ != sinPhase2_) {
            sinPhase2_ = phase2_;
            sin2_ = std::sin(phase2_);
        }
        const float a = sin1_ * volume;
        const float b = sin2_ * volume * 0.5f;
        phase1_ += freq1_; // never wrapped: a trigger resets it every four steps
        phase2_ += freq2_;
        if (phase2_ > 6.28f)
            phase2_ -= 6.28f;
        const float slide = slide1.load(std::memory_order_relaxed);
        freq1_ -= slide;
        freq2_ -= slide * 12.0f;
        if (freq1_ < 0.0f)
            freq1_ = 0.0f;
        if (freq2_ < 0.0f)
            freq2_ = 0.0f;
        return a + b;
    }

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
    float sinPhase1_ = 0.0f; // sin1_ = sin(sinPhase1_)
    float sin1_ = 0.0f;
    float sinPhase2_ = 0.0f;
    float sin2_ = 0.0f;
};

} // namespace vexla
