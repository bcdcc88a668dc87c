#include "common/mem_pool.h"

#include <new>

namespace MemPool {
namespace {

std::size_t BlocksFor(std::size_t bytes, std::size_t blockSize) {
    std::size_t n = bytes / blockSize + (bytes % blockSize != 0 ? 1 : 0);
    return n == 0 ? 1 : n;
}

}  // namespace

CMemoryPool::CMemoryPool(std::size_t blockSize, std::size_t firstChunk, std::size_t growth,
                         Search search)
    : blockSize_(blockSize == 0 ? 1 : blockSize),
      growthBlocks_(BlocksFor(growth, blockSize_)),
      search_(search) {
    orv::MutexLock lock(mutex_);
    AddChunk(BlocksFor(firstChunk, blockSize_));
}

CMemoryPool::~CMemoryPool() {
    Destroy();
}

void CMemoryPool::Destroy() {
    orv::MutexLock lock(mutex_);
    chunks_.clear();
    nextChunk_ = nextBlock_ = usedBlocks_ = 0;
}

bool CMemoryPool::AddChunk(std::size_t blocks) {
    Chunk chunk;
    chunk.memory.reset(new (std::nothrow) std::uint8_t[blocks * blockSize_]);
    if (!chunk.memory) return false;
    chunk.blocks = blocks;
    chunk.runLength.assign(blocks, 0);
    chunk.used.assign(blocks, false);
    chunks_.push_back(std::move(chunk));
    return true;
}

// The first run of `blocks` free blocks in `c` that starts at an index in
// [first, last), or c.blocks when there is none.
std::size_t CMemoryPool::FindInChunk(const Chunk& c, std::size_t blocks, std::size_t first,
                                     std::size_t last) {
    std::size_t runLen = 0;
    for (std::size_t b = first; b < c.blocks; ++b) {
        if (c.used[b]) {
            runLen = 0;
            continue;
        }
        if (runLen == 0 && b >= last) break;
        if (++runLen == blocks) return b + 1 - blocks;
    }
    return c.blocks;
}

void* CMemoryPool::FindRun(std::size_t blocks) {
    if (chunks_.empty()) return nullptr;
    // From where the previous allocation ended to the end of its chunk, then
    // every other chunk in turn, then the start of the first chunk again.
    const std::size_t n = chunks_.size();
    for (std::size_t step = 0; step <= n; ++step) {
        const std::size_t ci = (nextChunk_ + step) % n;
        Chunk& c = chunks_[ci];
        const std::size_t first = step == 0 ? nextBlock_ : 0;
        const std::size_t last = step == n ? nextBlock_ : c.blocks;
        const std::size_t start = FindInChunk(c, blocks, first, last);
        if (start == c.blocks) continue;
        for (std::size_t k = start; k < start + blocks; ++k) c.used[k] = true;
        c.runLength[start] = static_cast<std::uint32_t>(blocks);
        usedBlocks_ += blocks;
        nextChunk_ = ci;
        nextBlock_ = (start + blocks) % c.blocks;
        return c.memory.get() + start * blockSize_;
    }
    return nullptr;
}

void* CMemoryPool::Allocate(std::size_t size) {
    if (size == 0) return nullptr;
    const std::size_t blocks = BlocksFor(size, blockSize_);
    orv::MutexLock lock(mutex_);
    if (search_ == Search::kFirstFit) nextChunk_ = nextBlock_ = 0;
    if (void* p = FindRun(blocks)) return p;
    const std::size_t grow = blocks > growthBlocks_ ? blocks : growthBlocks_;
    if (!AddChunk(grow)) return nullptr;
    nextChunk_ = chunks_.size() - 1;
    nextBlock_ = 0;
    return FindRun(blocks);
}

bool CMemoryPool::Free(void* p) {
    if (p == nullptr) return false;
    const auto* addr = static_cast<const std::uint8_t*>(p);
    orv::MutexLock lock(mutex_);
    for (Chunk& c : chunks_) {
        const std::uint8_t* base = c.memory.get();
        if (addr < base || addr >= base + c.blocks * blockSize_) continue;
        const std::size_t offset = static_cast<std::size_t>(addr - base);
        if (offset % blockSize_ != 0) return false;
        const std::size_t b = offset / blockSize_;
        const std::uint32_t len = c.runLength[b];
        if (len == 0) return false;
        for (std::size_t k = b; k < b + len; ++k) c.used[k] = false;
        c.runLength[b] = 0;
        usedBlocks_ -= len;
        return true;
    }
    return false;
}

std::size_t CMemoryPool::TotalBlocks() const {
    orv::MutexLock lock(mutex_);
    std::size_t n = 0;
    for (const Chunk& c : chunks_) n += c.blocks;
    return n;
}

std::size_t CMemoryPool::UsedBlocks() const {
    orv::MutexLock lock(mutex_);
    return usedBlocks_;
}

}  // namespace MemPool
