// Test helper: builds sample slots in memory from a per-frame value function. Test thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "vexla/samples/SampleSlot.h"

namespace vexla::test {

/// Fills `slot` with `length` frames: left[i] = leftValue(i), and right[i] = rightValue(i) when given.
inline void fillSlot(SampleSlot& slot, std::int32_t length,
                     const std::function<std::int16_t(std::int32_t)>& leftValue,
                     const std::function<std::int16_t(std::int32_t)>& rightValue = {}) {
    slot.left = std::make_unique<std::int16_t[]>(static_cast<std::size_t>(length));
    for (std::int32_t i = 0; i < length; ++i)
        slot.left[static_cast<std::size_t>(i)] = leftValue(i);
    slot.stereo = static_cast<bool>(rightValue);
    slot.right.reset();
    if (slot.stereo) {
        slot.right = std::make_unique<std::int16_t[]>(static_cast<std::size_t>(length));
        for (std::int32_t i = 0; i < length; ++i)
            slot.right[static_cast<std::size_t>(i)] = rightValue(i);
    }
    slot.length = length;
}

} // namespace vexla::test
