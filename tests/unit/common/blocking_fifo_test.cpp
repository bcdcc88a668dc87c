#include "common/blocking_fifo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using orv::BlockingFifo;

TEST(BlockingFifo, PopsOldestFirstAndRefusesPushAfterStop) {
    BlockingFifo<int> q;
    EXPECT_TRUE(q.Push(1));
    EXPECT_TRUE(q.Push(2));
    EXPECT_EQ(q.TryPop(), 1);
    q.Stop();
    EXPECT_FALSE(q.Push(3));
    // What was queued before the stop is still there for the owner to drain.
    EXPECT_EQ(q.TryPop(), 2);
    EXPECT_FALSE(q.TryPop().has_value());
}

TEST(BlockingFifo, StopWakesBlockedConsumer) {
    BlockingFifo<int> q;
    std::atomic<bool> returned{false};
    std::optional<int> got = 42;
    std::thread consumer([&] {
        got = q.WaitPop();
        returned = true;
    });
    // Give the consumer time to block; the test is correct without it, the
    // sleep only makes the blocked path the likely one.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(returned);
    q.Stop();
    consumer.join();
    EXPECT_FALSE(got.has_value());
}

TEST(BlockingFifo, EveryItemReachesExactlyOneOfSeveralConsumers) {
    BlockingFifo<int> q;
    constexpr int kItems = 20000;
    std::atomic<long> sum{0};
    std::atomic<int> count{0};
    std::vector<std::thread> consumers;
    for (int i = 0; i < 3; ++i)
        consumers.emplace_back([&] {
            while (auto v = q.WaitPop()) {
                sum += *v;
                ++count;
            }
        });
    for (int i = 1; i <= kItems; ++i) ASSERT_TRUE(q.Push(i));
    while (q.Size() != 0) std::this_thread::yield();
    q.Stop();
    for (auto& t : consumers) t.join();
    EXPECT_EQ(count, kItems);
    EXPECT_EQ(sum, static_cast<long>(kItems) * (kItems + 1) / 2);
}
