// The render's calls into a Link master neither allocate nor free, also while the user's tempo and
// start/stop are committed to the session.
#include "common/link/LinkMaster.h"
#include "common/tests/AllocationCounter.h"

#include <gtest/gtest.h>

#include <memory>

namespace common {
namespace {

TEST(LinkAllocation, TheRendersCallsAllocateNothing) {
    ASSERT_TRUE(test::allocationCounterWorks());
    auto master = std::make_unique<LinkMaster>(44100.0);
    auto bus = std::make_unique<MidiBus>();
    master->open(120.0);
    master->setOutputLatencyFrames(1280);
    constexpr int kBlock = 256;
    std::int64_t sum = 0;
    const std::int64_t origin = master->hostMicros();
    const auto counted = test::countAllocations([&] {
        for (int block = 0; block < 3000; ++block) {
            if (block % 100 == 10)
                master->requestTempo(100.0 + block / 100);
            if (block % 300 == 0)
                master->requestPlaying(block % 600 == 0);
            if (block % 2 == 0)
                master->update(*bus, kBlock);
            else
                master->updateAt(*bus, kBlock, origin + block * 5805);
            TransportEvent event;
            while (master->nextEvent(bus->renderFrame() + kBlock, event))
                sum += event.sixteenth;
            sum += master->frameOfSixteenth(block) + static_cast<std::int64_t>(master->bpm());
            bus->endBlock(kBlock);
        }
    });
    EXPECT_EQ(counted.allocations, 0);
    EXPECT_EQ(counted.frees, 0);
    EXPECT_NE(sum, 0);
}

} // namespace
} // namespace common
