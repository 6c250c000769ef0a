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
        state_.level = hatLevels[s].load(r);
        state_.decay = hatDecays[s].load(r);
        state_.tone = 0.8f;
        if (s % 4 == 2) {
            state_.level *= 2.0f;
            state_.decay *= 0.5f;
        }
        if (s % 8 == 4 && accentOff.load(r) == 0) {
            state_.level = 1.0f;
            state_.decay = 0.001f;
            state_.tone = 0.2f;
        }
    }

    /// One frame; draws one number from the audio thread's generator every frame.
    float render(common::Random& random) { return state_.render(random); }

    /// The render state in locals for a run of frames, so that it stays in registers: render() per frame,
    /// then finish() hands it back. Nothing else may touch the voice meanwhile.
    class Run;

    std::array<std::atomic<float>, kStepTableSize> hatLevels{};
    std::array<std::atomic<float>, kStepTableSize> hatDecays{};
    std::atomic<std::int32_t> accentOff{0};
    std::atomic<float> hatEchoSend{0.3f};

private:
    struct State {
        float level = 1.0f;
        float decay = 1.0f;
        float tone = 0.5f;
        float smooth1 = 0.0f;
        float smooth2 = 0.0f;

        float render(common::Random& random) {
            const float noise = static_cast<float>(random.next() - 16384) * level;
            level -= decay;
            if (level < 0.0f)
                level = 0.0f;
            smooth1 += (noise - smooth1) * tone;
            smooth2 += (smooth1 - smooth2) * tone;
            return smooth2 - noise;
        }
    };
    State state_;
};

class HatVoice::Run {
public:
    explicit Run(HatVoice& voice) : voice_(voice), state_(voice.state_) {}
    float render(common::Random& random) { return state_.render(random); }
    void finish() { voice_.state_ = state_; }

private:
    HatVoice& voice_;
    State state_;
};

} // namespace vexla
