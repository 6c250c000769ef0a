// The hi-hats: high-passed white noise with a per-step level and decay and a fixed accent pattern.
// stepLoad(), render() and generate() (served requests) run inside the render; the tables are relaxed
// atomics only so that the window can copy them for a scene or an undo step while the render runs.
#pragma once

#include "common/Random.h"
#include "vexla/engine/StepTables.h"

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
    void stepLoad(int s);

    /// n frames (1..kMaxRunFrames) into out, times volume; draws one number per frame from `random`.
    void render(float* out, int n, common::Random& random, float volume);

    std::array<std::atomic<float>, kStepTableSize> levels{}; ///< 0..1 per step
    std::array<std::atomic<float>, kStepTableSize> decays{}; ///< level decrement per frame, per step
    std::atomic<std::int32_t> accentOff{0};                  ///< 1: no accent on steps 4 mod 8
    std::atomic<float> echoSend{0.3f};                       ///< opposite signs on left and right

  private:
    float level_ = 1.0f;
    float decay_ = 1.0f;
    float tone_ = 0.5f;
    float smooth1_ = 0.0f;
    float smooth2_ = 0.0f;
};

} // namespace vexla
