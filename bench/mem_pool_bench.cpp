// CMemoryPool allocate/free beside malloc/free of the same sizes, for the
// pools the service keeps: 16-byte queue items and 3 MiB packet buffers.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "common/mem_pool.h"

namespace {

constexpr std::size_t kPacketBuffer = 3u * 1024u * 1024u;

void BM_PoolItem(benchmark::State& state) {
    MemPool::CMemoryPool pool(16, 1024, 1024);
    for (auto _ : state) {
        void* p = pool.Allocate(16);
        benchmark::DoNotOptimize(p);
        pool.Free(p);
    }
}

void BM_MallocItem(benchmark::State& state) {
    for (auto _ : state) {
        void* p = std::malloc(16);
        benchmark::DoNotOptimize(p);
        std::free(p);
    }
}

// A steady state with a few buffers in flight, as in the send queue.
template <typename Alloc, typename Free>
void InFlight(benchmark::State& state, Alloc alloc, Free release) {
    void* ring[8] = {};
    std::size_t i = 0;
    for (auto _ : state) {
        if (ring[i]) release(ring[i]);
        ring[i] = alloc();
        static_cast<char*>(ring[i])[0] = 1;  // touch it as a copy would
        benchmark::DoNotOptimize(ring[i]);
        i = (i + 1) % 8;
    }
    for (void* p : ring)
        if (p) release(p);
}

void BM_PoolPacketInFlight(benchmark::State& state) {
    MemPool::CMemoryPool pool(kPacketBuffer, 10 * kPacketBuffer, kPacketBuffer);
    InFlight(
        state, [&] { return pool.Allocate(kPacketBuffer); }, [&](void* p) { pool.Free(p); });
}

void BM_MallocPacketInFlight(benchmark::State& state) {
    InFlight(
        state, [] { return std::malloc(kPacketBuffer); }, [](void* p) { std::free(p); });
}

}  // namespace

BENCHMARK(BM_PoolItem);
BENCHMARK(BM_MallocItem);
BENCHMARK(BM_PoolPacketInFlight);
BENCHMARK(BM_MallocPacketInFlight);
BENCHMARK_MAIN();
