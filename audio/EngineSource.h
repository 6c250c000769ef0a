// Plays an engine whose renderBlock(buffer, lengthBytes) writes little-endian 16-bit stereo frames.
// render() on the audio thread, like the engine's renderBlock.
#pragma once

#include "audio/Output.h"

#include <bit>
#include <cstdint>

namespace audio {

class EngineSource final : public Source {
  public:
    /// Only this constructor needs the engine's type, so a header may hold the source of an engine it
    /// only declares.
    template <class Engine>
    explicit EngineSource(Engine& engine)
        : engine_(&engine), renderBlock_([](void* owner, void* buffer, int lengthBytes) {
              static_cast<Engine*>(owner)->renderBlock(buffer, lengthBytes);
          }) {}

    void render(std::int16_t* interleavedStereo, int frames) override {
        renderBlock_(engine_, interleavedStereo, frames * 4);
        if constexpr (std::endian::native == std::endian::big) {
            for (int i = 0; i < 2 * frames; ++i) {
                const auto bytes = static_cast<std::uint16_t>(interleavedStereo[i]);
                interleavedStereo[i] =
                    static_cast<std::int16_t>(static_cast<std::uint16_t>((bytes >> 8) | (bytes << 8)));
            }
        }
    }

  private:
    void* engine_;
    void (*renderBlock_)(void* engine, void* buffer, int lengthBytes);
};

} // namespace audio
