// "2nd Looper": the second looper's echo and ring-modulator sends.
#include "vexla/engine/SecondLooperSends.h"

namespace vexla {

void alterSecondLooper(SecondLooperSetting& sends, common::Random& random) {
    // Echo send first, then the ring-modulator send: the order fixes the sequence of draws.
    sends.echoSend = static_cast<float>(random.below(512)) / 256.0f;
    sends.amSend = static_cast<float>(random.below(512)) / 256.0f;
}

} // namespace vexla
