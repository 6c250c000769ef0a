// The window-to-render mailbox: order kept, nothing lost under load or overflow, step-boundary changes
// hold the queue, and every change is destroyed on the posting thread.
#include "common/Mailbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

struct Log {
    std::vector<int> applied;
    long long sum = 0;
};

std::atomic<int> destroyedOffWindow{0};
thread_local bool onWindowThread = false;

struct Append : common::Change<Log> {
    Append(int v, bool boundary = false) : value(v), boundary(boundary) {}
    ~Append() override {
        if (!onWindowThread)
            destroyedOffWindow.fetch_add(1);
    }
    void apply(Log& log) override {
        if (log.applied.size() < log.applied.capacity())
            log.applied.push_back(value); // within reserved room: no allocation
        log.sum += value;
    }
    bool atStepBoundary() const override { return boundary; }
    int value;
    bool boundary;
};

TEST(Mailbox, KeepsOrderThroughOverflowAndHoldsAtStepBoundaries) {
    onWindowThread = true;
    common::Mailbox<Log> mailbox(4);
    Log log;
    log.applied.reserve(64);
    for (int i = 0; i < 10; ++i)
        mailbox.post(std::make_unique<Append>(i, i == 6));
    mailbox.serve(log, false); // 0..3 were sent; the rest wait for room
    EXPECT_EQ(log.applied, (std::vector<int>{0, 1, 2, 3}));
    mailbox.collect(); // room again: 4..7 go
    mailbox.serve(log, false);
    EXPECT_EQ(log.applied, (std::vector<int>{0, 1, 2, 3, 4, 5}))
        << "6 waits for a step boundary, 7 behind it";
    EXPECT_FALSE(mailbox.idle());
    mailbox.serve(log, true);
    EXPECT_EQ(log.applied.back(), 7);
    mailbox.settle(log);
    EXPECT_TRUE(mailbox.idle());
    EXPECT_EQ(log.applied, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(Mailbox, LosesNothingWhileARenderServesAndFreesOnlyOnTheWindowThread) {
    onWindowThread = true;
    destroyedOffWindow = 0;
    constexpr int kChanges = 50000;
    Log log;
    {
        common::Mailbox<Log> mailbox(16);
        std::atomic<bool> stop{false};
        std::thread render([&] {
            while (!stop.load(std::memory_order_acquire))
                mailbox.serve(log, true);
        });
        for (int i = 1; i <= kChanges; ++i)
            mailbox.post(std::make_unique<Append>(i));
        while (!mailbox.idle())
            mailbox.collect();
        stop = true;
        render.join();
        mailbox.collect();
    }
    EXPECT_EQ(log.sum, static_cast<long long>(kChanges) * (kChanges + 1) / 2);
    EXPECT_EQ(destroyedOffWindow.load(), 0);
}

} // namespace
