// The hi-hats: high-passed white noise with a per-step level and decay and a fixed accent pattern.
// stepLoad(), render() and generate() (served requests) run inside the render; the tables are relaxed
// atomics only so that the window can copy them for a scene or an undo step while the render runs.
#pragma once

#include "common/Random.h"
#include "vexla/engine/BassVoice.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace vexla {

class HatVoice {
public:
    HatVoice() = default;
    HatVoice(const HatVoice&) = delete;
    HatVoice& operator=(const HatVoice&) = delete;

    /// Echo send, the first stepCount levels and decays, then the accent switch.
    void generate(common::Random& random, int stepCount);

    /// Loads step s (0..63), with the doubled level on steps 2 mod 4 and the accent on steps 4 mod 8.
    void stepLoad(int s) {
        constexpr auto r = std::memory_order_relaxed;
        level_ = hatLevels[s].load(r);
        decay_ = hatDecays[s].load(r);
        tone_ = 0.8f;
        if (s % 4 == 2) {
            level_ *= 2.0f;
            decay_ *= 0.5f;
        }
        if (s % 8 == 4 && accentOff.load(r) == 0) {
            level_ = 1.0f;
            decay_ = 0.001f;
            tone_ = 0.2f;
        }
    }

    /// One frame; draws one number from the audio thread's generator every frame.
    float render(common::Random& random) {
        const float noise = static_cast<float>(random.next() - 16384) * level_;
        level_ -= decay_;
        if (level_ < 0.0f)
            level_ = 0.0f;
        smooth1_ += (noise - smooth1_) * tone_;
        smooth2_ += (smooth1_ - smooth2_) * tone_;
        return smooth2_ - noise;
    }

    std::array<std::atomic<float>, kStepTableSize> hatLevels{};
    std::array<std::atomic<float>, kStepTableSize> hatDecays{};
    std::atomic<std::int32_t> accentOff{0};
    std::atomic<float> hatEchoSend{0.3f};

private:
    float level_ = 1.0f;
    float decay_ = 1.0f;
    float tone_ = 0.5f;
    float smooth1_ = 0.0f;
    float smooth2_ = 0.0f;
};

} // namespace vexla
