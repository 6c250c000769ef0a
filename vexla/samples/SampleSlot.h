// One loaded sample as signed 16-bit arrays. The loader fills a slot on the window thread; the engine
// swaps it into one of its own slots in the render, whose players then read it.
#pragma once

#include <cstdint>
#include <memory>

namespace vexla {

/// Bytes of a slot's name, terminating zero included.
inline constexpr int kSlotNameBytes = 68;

struct SampleSlot {
    std::unique_ptr<std::int16_t[]> right; ///< second channel; present only when stereo
    std::unique_ptr<std::int16_t[]> left;  ///< first channel (the only one of a mono file)
    bool stereo = false;                   ///< two channels loaded
    std::int32_t length = 0;               ///< frames in each array; 0 = empty
    std::int32_t loopStart = 0;            ///< start of the file's first sample loop, in frames
    std::int32_t loopEnd = 0;              ///< end of that loop, as the file states it
    std::int32_t hasLoop = 0;              ///< 1 when a loop was read, else 0
    char name[kSlotNameBytes] = {};        ///< "empty", or the loaded file's path (shortened to fit)
};

/// Empties the slot's description: length and loop fields 0, name "empty". The arrays are not touched.
void initSlot(SampleSlot& slot);

} // namespace vexla
