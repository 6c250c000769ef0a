// The second looper's effect sends and their "2nd Looper" re-roll. alterSecondLooper() on the window
// thread; the render reads the sends (relaxed atomics).
#pragma once

#include "common/Random.h"

#include <atomic>

namespace vexla {

struct SecondLooperSends {
    std::atomic<float> echoSend{0.0f}; ///< 0..1.99609375, on both channels
    std::atomic<float> amSend{0.0f};   ///< 0..1.99609375, left channel into the ring modulator
};

/// "2nd Looper": draws the echo send, then the ring-modulator send, each randomBelow(512) / 256.
void alterSecondLooper(SecondLooperSends& sends, common::Random& random);

} // namespace vexla
