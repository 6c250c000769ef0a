// Emptying a sample slot.
#include "vexla/samples/SampleSlot.h"

#include <cstring>

namespace vexla {

namespace {
void setEmptyDescription(SampleSlot& slot) {
    slot.loopStart = 0;
    slot.loopEnd = 0;
    slot.hasLoop = 0;
    std::memset(slot.name, 0, sizeof slot.name);
    std::memcpy(slot.name, "empty", 5);
}
} // namespace

void initSlot(SampleSlot& slot) {
    setEmptyDescription(slot);
    slot.length = 0;
}

} // namespace vexla
