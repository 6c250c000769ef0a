// Helpers for the loop engine's MIDI tests: renders that drain the bus as a device would. Test thread only.
#pragma once

#include "common/MidiBus.h"
#include "common/tests/MidiTestSupport.h"
#include "vexla/engine/LoopEngine.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

namespace vexla::testing {

using common::test::framesOf;

struct Take {
    std::vector<std::int16_t> audio; ///< interleaved left, right
    std::vector<common::test::Sent> midi;
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
        if (bus) {
            const std::vector<common::test::Sent> taken = common::test::drain(*bus);
            take.midi.insert(take.midi.end(), taken.begin(), taken.end());
        }
        if (afterBlock)
            afterBlock(done);
    }
    return take;
}

} // namespace vexla::testing
