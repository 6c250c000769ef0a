// "2nd Looper": the second looper's echo and ring-modulator sends.
#include "vexla/engine/SecondLooperSends.h"

namespace vexla {

void alterSecondLooper(SecondLooperSends& sends, common::Random& random) {
    // Echo send first, then the ring-modulator send: the order fixes the sequence of draws.
    const float echoSend = static_cast<float>(random.below(512)) / 256.0f;
    sends.echoSend.store(echoSend, std::memory_order_relaxed);
    const float amSend = static_cast<float>(random.below(512)) / 256.0f;
    sends.amSend.store(amSend, std::memory_order_relaxed);
}

} // namespace vexla
