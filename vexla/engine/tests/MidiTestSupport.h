// Helpers for the loop engine's MIDI tests: renders that drain the bus as a device would. Test thread only.
#pragma once

#include "common/MidiBus.h"
#include "vexla/engine/LoopEngine.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

namespace vexla::testing {

struct Take {
    std::vector<std::int16_t> audio; ///< interleaved left, right
    std::vector<common::MidiMessage> midi;
};

/// Renders `frames` frames in blocks of `blockFrames`, draining the bus after each block as a device
/// would. At each frame of `toggles` (block starts) the engine's Run switch flips; after each block
/// `afterBlock` is told the frame where the block began.
inline Take render(LoopEngine& engine, common::MidiBus* bus, int frames, int blockFrames,
                   const std::vector<int>& toggles = {}, const std::function<void(int)>& afterBlock = {}) {
    Take take;
    take.audio.resize(static_cast<std::size_t>(frames) * 2);
    for (int done = 0; done < frames; done += blockFrames) {
        if (std::find(toggles.begin(), toggles.end(), done) != toggles.end())
            engine.params.running = !engine.params.running;
        const int n = std::min(blockFrames, frames - done);
        engine.renderBlock(take.audio.data() + static_cast<std::size_t>(done) * 2, n * 4);
        common::MidiMessage message;
        while (bus && bus->takeBefore(common::MidiBus::kEndOfTime, message))
            take.midi.push_back(message);
        if (afterBlock)
            afterBlock(done);
    }
    return take;
}

inline bool sameMessages(const std::vector<common::MidiMessage>& a,
                         const std::vector<common::MidiMessage>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const common::MidiMessage& x, const common::MidiMessage& y) {
                          return x.frame == y.frame && x.size == y.size && x.bytes == y.bytes;
                      });
}

inline std::vector<std::int64_t> framesOf(const std::vector<common::MidiMessage>& midi, std::uint8_t status) {
    std::vector<std::int64_t> frames;
    for (const common::MidiMessage& m : midi)
        if (m.bytes[0] == status)
            frames.push_back(m.frame);
    return frames;
}

} // namespace vexla::testing
