#include "common/mem_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

using MemPool::CMemoryPool;

TEST(MemPool, RunsAreConsecutiveBlocksAndGrowthRoundsToBlocks) {
    CMemoryPool pool(16, 64, 40);  // 4 blocks first; growth 40 -> 3 blocks
    EXPECT_EQ(pool.TotalBlocks(), 4u);
    auto* a = static_cast<std::uint8_t*>(pool.Allocate(33));  // 3 blocks
    auto* b = static_cast<std::uint8_t*>(pool.Allocate(16));  // 1 block
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b, a + 48);
    EXPECT_EQ(pool.UsedBlocks(), 4u);
    void* c = pool.Allocate(1);  // no room: one chunk of 3 blocks is added
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(pool.TotalBlocks(), 7u);
    // A request larger than the growth size still gets a chunk that fits it.
    EXPECT_NE(pool.Allocate(16 * 10), nullptr);
    EXPECT_EQ(pool.TotalBlocks(), 17u);
    EXPECT_EQ(pool.Allocate(0), nullptr);
}

TEST(MemPool, FreedRunsAreReusedAndSearchStartsAfterLastAllocation) {
    CMemoryPool pool(8, 8 * 4, 8);
    void* a = pool.Allocate(8);
    void* b = pool.Allocate(8);
    ASSERT_TRUE(pool.Free(a));
    // The search goes on from after b, so the next block is the third one,
    // and only after wrapping around is a's freed block taken again.
    void* c = pool.Allocate(8);
    EXPECT_EQ(static_cast<std::uint8_t*>(c), static_cast<std::uint8_t*>(b) + 8);
    void* d = pool.Allocate(8);
    void* e = pool.Allocate(8);
    EXPECT_EQ(e, a);
    EXPECT_EQ(pool.TotalBlocks(), 4u);
    (void)d;

    // First fit takes the lowest free run, so a buffer freed before the next
    // allocation is handed out again.
    CMemoryPool first(8, 8 * 4, 8, CMemoryPool::Search::kFirstFit);
    void* f = first.Allocate(8);
    void* g = first.Allocate(8);
    ASSERT_TRUE(first.Free(f));
    EXPECT_EQ(first.Allocate(8), f);
    ASSERT_TRUE(first.Free(g));
    EXPECT_EQ(first.Allocate(16), static_cast<std::uint8_t*>(f) + 8);  // blocks 1 and 2
}

TEST(MemPool, ForeignOrDoubleFreeIsRefusedWithoutCorruption) {
    CMemoryPool pool(16, 64, 64);
    auto* a = static_cast<std::uint8_t*>(pool.Allocate(32));
    int onStack = 0;
    EXPECT_FALSE(pool.Free(&onStack));
    EXPECT_FALSE(pool.Free(a + 16));  // inside the run, not its start
    EXPECT_FALSE(pool.Free(a + 1));
    EXPECT_EQ(pool.UsedBlocks(), 2u);
    EXPECT_TRUE(pool.Free(a));
    EXPECT_FALSE(pool.Free(a));
    EXPECT_EQ(pool.UsedBlocks(), 0u);
}

TEST(MemPool, ConcurrentUsersNeverGetOverlappingRuns) {
    CMemoryPool pool(64, 64 * 8, 64 * 8);
    std::mutex seenMutex;
    std::vector<std::pair<std::uintptr_t, std::uintptr_t>> live;
    bool overlap = false;
    auto worker = [&](int seed) {
        std::vector<std::pair<void*, std::size_t>> mine;
        for (int i = 0; i < 3000; ++i) {
            const std::size_t size = 1 + static_cast<std::size_t>((i * 37 + seed * 11) % 300);
            void* p = pool.Allocate(size);
            ASSERT_NE(p, nullptr);
            std::memset(p, seed, size);
            {
                std::lock_guard lock(seenMutex);
                const auto lo = reinterpret_cast<std::uintptr_t>(p);
                for (auto [l, h] : live)
                    if (lo < h && l < lo + size) overlap = true;
                live.emplace_back(lo, lo + size);
            }
            mine.emplace_back(p, size);
            if (mine.size() > 6) {
                auto [q, qsize] = mine.front();
                mine.erase(mine.begin());
                // Nobody else wrote into our run.
                const auto* bytes = static_cast<const std::uint8_t*>(q);
                EXPECT_TRUE(std::all_of(bytes, bytes + qsize, [&](std::uint8_t v) {
                    return v == static_cast<std::uint8_t>(seed);
                }));
                {
                    std::lock_guard lock(seenMutex);
                    const auto lo = reinterpret_cast<std::uintptr_t>(q);
                    std::erase_if(live, [&](auto& r) { return r.first == lo; });
                }
                EXPECT_TRUE(pool.Free(q));
            }
        }
        for (auto [q, s] : mine) {
            {
                std::lock_guard lock(seenMutex);
                const auto lo = reinterpret_cast<std::uintptr_t>(q);
                std::erase_if(live, [&](auto& r) { return r.first == lo; });
            }
            pool.Free(q);
        }
    };
    std::vector<std::thread> threads;
    for (int s = 1; s <= 4; ++s) threads.emplace_back(worker, s);
    for (auto& t : threads) t.join();
    EXPECT_FALSE(overlap);
    EXPECT_EQ(pool.UsedBlocks(), 0u);
}
