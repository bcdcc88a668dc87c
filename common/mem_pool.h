// MemPool::CMemoryPool: a thread-safe pool of fixed-size blocks.
//
// An allocation takes ceil(size / block size) consecutive free blocks of one
// chunk, searching from where the previous allocation ended and wrapping
// around (next fit), or, for a pool made with Search::kFirstFit, from the
// start of the first chunk: a pool of large buffers that are used one after
// another then hands out the same few blocks again while they are still in
// the cache, where next fit would walk every block of the pool in turn. When no run is free the
// pool adds a chunk of at least its growth size (rounded up to whole blocks, and large enough for
// the request) and searches again. Freeing marks the run free; memory goes back to the system only
// when the pool is destroyed.
//
// Free of a pointer the pool did not hand out (or one already freed, or one
// inside a run) is refused and changes nothing.
//
// Any thread. One lock (the pool's mutex), never held while calling out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/thread_annotations.h"

namespace MemPool {

// The pool interface: destroy, allocate, free (in that order).
class IMemoryBlock {
public:
    virtual ~IMemoryBlock() = default;
    // Releases every chunk; pointers handed out become invalid.
    virtual void Destroy() = 0;
    // A run of blocks of at least `size` bytes, or nullptr when size is 0 or
    // memory cannot be had.
    virtual void* Allocate(std::size_t size) = 0;
    // Returns a run to the pool. False when `p` is not the start of a run this
    // pool handed out and has not been freed since.
    virtual bool Free(void* p) = 0;
};

class CMemoryPool final : public IMemoryBlock {
public:
    enum class Search { kNextFit, kFirstFit };

    // blockSize > 0. firstChunk and growth are byte counts; each is rounded up
    // to whole blocks (at least one block).
    CMemoryPool(std::size_t blockSize, std::size_t firstChunk, std::size_t growth,
                Search search = Search::kNextFit);
    ~CMemoryPool() override;

    CMemoryPool(const CMemoryPool&) = delete;
    CMemoryPool& operator=(const CMemoryPool&) = delete;

    void Destroy() override;
    void* Allocate(std::size_t size) override;
    bool Free(void* p) override;

    std::size_t BlockSize() const { return blockSize_; }
    // Blocks owned by the pool and blocks currently handed out.
    std::size_t TotalBlocks() const;
    std::size_t UsedBlocks() const;

private:
    struct Chunk {
        std::unique_ptr<std::uint8_t[]> memory;
        std::size_t blocks = 0;
        // Per block: 0 when free or inside a run, else the length of the run
        // that starts here. `used` marks every block of every run.
        std::vector<std::uint32_t> runLength;
        std::vector<bool> used;
    };

    static std::size_t FindInChunk(const Chunk& c, std::size_t blocks, std::size_t first,
                                   std::size_t last);
    void* FindRun(std::size_t blocks) REQUIRES(mutex_);
    bool AddChunk(std::size_t blocks) REQUIRES(mutex_);

    const std::size_t blockSize_;
    const std::size_t growthBlocks_;
    const Search search_;
    mutable orv::Mutex mutex_;
    std::vector<Chunk> chunks_ GUARDED_BY(mutex_);
    // Where the previous allocation ended: chunk index and block index.
    std::size_t nextChunk_ GUARDED_BY(mutex_) = 0;
    std::size_t nextBlock_ GUARDED_BY(mutex_) = 0;
    std::size_t usedBlocks_ GUARDED_BY(mutex_) = 0;
};

}  // namespace MemPool
