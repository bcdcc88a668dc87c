// CFrameDispatch: the two activities of one wall view that move the driver's
// frames to the adapters.
//
// The frame thread waits for the driver to fill a half of the view's shared
// memory, routes every valid FrameSlot to the adapter of the monitor at the
// slot's grid place (stamping the packet with its FrameIndex), records which
// monitors got a piece of the frame and releases the half to the driver at
// once: every packet has been copied into its adapter's buffers by then. The
// completion worker waits, per recorded frame, for every monitor's
// acknowledgement (at most 1000 ms), tells each adapter involved to show the
// frame, and gives the in-flight place back. At most three frames are in
// flight; at most kMaxBacklog frames wait for their acknowledgements, and a
// frame beyond that is dropped (counted, logged) before it is routed.
//
// Threads (owned; Start starts them, Stop joins them):
//   "orv-frame"   the frame thread
//   "orv-complete" the completion worker
// Callers: the view (Start, Stop), the wall model (SetIdle, LinkGrid,
// ForgetMonitor, under WallLayoutLock).
//
// Locks, in the order they may nest:
//   wall::WallLayoutLock (routing; LinkGrid, ForgetMonitor)
//     -> recordMutex_ (the monitors named by live records)
//       -> the adapters' link locks (show frame, from the completion worker)
// The frame queue and the record pool have their own internal locks.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <thread>

#include "common/blocking_fifo.h"
#include "common/bytes.h"
#include "common/mem_pool.h"
#include "common/thread_annotations.h"
#include "platform/event.h"
#include "platform/named_event.h"
#include "protocol/driver/driver_protocol.h"
#include "service/wall/wall_grid.h"

namespace orv::frame {

// One dispatched frame: 168 bytes, as the record pool's blocks.
struct FrameRecord {
    std::uint32_t frameNumber = 0;
    std::uint32_t count = 0;
    std::array<adapter::COvwMonitor*, wall::kMaxWallMonitors> monitors{};
};
static_assert(sizeof(FrameRecord) == 168);

struct FrameStats {
    std::uint64_t frames = 0;         // records queued
    std::uint64_t emptyFrames = 0;    // wake-ups that reached no adapter
    std::uint64_t droppedFrames = 0;  // beyond the backlog bound
    std::uint64_t badSlots = 0;       // slots or halves refused
    std::uint64_t ackTimeouts = 0;    // frames shown without every acknowledgement
    std::uint64_t shownFrames = 0;    // records retired by the completion worker
};

class CFrameDispatch {
public:
    static constexpr int kInFlight = 3;
    static constexpr std::uint32_t kSemaphoreWaitMs = 500;
    static constexpr std::uint32_t kAckWaitMs = 1000;
    // Frames waiting for acknowledgements at most.
    static constexpr std::size_t kMaxBacklog = 8;

    // `block` is the whole shared memory of `layout`; `events` the four
    // driver events by index. All outlive the dispatch.
    CFrameDispatch(bytes::MutBytes block, const driver::ShareLayout& layout,
                   const std::array<platform::NamedEvent*, 4>& events);
    ~CFrameDispatch();  // Stop
    CFrameDispatch(const CFrameDispatch&) = delete;
    CFrameDispatch& operator=(const CFrameDispatch&) = delete;

    void Start();
    // Ends both threads (waking the frame thread through events 1 and 3),
    // joins them and returns every record to the pool. Idempotent.
    void Stop();

    // Stopping: 1 while a drop of the view is under way; a frame thread that
    // wakes while it is set ends.
    void SetStopping(bool stopping) { stopping_ = stopping ? 1 : 0; }
    bool Stopping() const { return stopping_ != 0; }
    // Idle: no monitor placed; frames are discarded.
    void SetIdle(bool idle) { idle_ = idle ? 1 : 0; }
    bool Idle() const { return idle_ != 0; }
    bool FrameThreadRunning() const { return frameThreadRunning_ != 0; }

    void LinkGrid(wall::WallGrid* grid) REQUIRES(wall::WallLayoutLock) { grid_ = grid; }
    // The monitor is about to be destroyed: no live record names it after
    // this returns.
    void ForgetMonitor(const adapter::COvwMonitor* m) REQUIRES(wall::WallLayoutLock);

    FrameStats Stats() const;
    std::uint32_t NextFrameNumber() const { return nextFrameNumber_; }

private:
    void FrameThread();
    void CompletionWorker();
    // Routes the slots of one half into `record`.
    void Route(bytes::MutBytes half, FrameRecord& record) REQUIRES(wall::WallLayoutLock);
    FrameRecord* TakeRecord();
    void ReturnRecord(FrameRecord* record);

    const bytes::MutBytes block_;
    const driver::ShareLayout layout_;
    const std::array<platform::NamedEvent*, 4> events_;

    std::atomic<int> stopping_{0};
    std::atomic<int> idle_{1};
    std::atomic<int> threadStop_{0};
    std::atomic<int> frameThreadRunning_{0};
    std::atomic<std::uint32_t> nextFrameNumber_{1};
    int nextHalf_ = 1;  // frame thread only

    wall::WallGrid* grid_ GUARDED_BY(wall::WallLayoutLock) = nullptr;

    platform::Semaphore inFlight_{kInFlight, kInFlight};
    BlockingFifo<FrameRecord*> queue_;
    MemPool::CMemoryPool pool_;

    mutable Mutex recordMutex_ ACQUIRED_AFTER(wall::WallLayoutLock);
    // Every record taken from the pool and not yet returned.
    std::array<FrameRecord*, kMaxBacklog + 1> live_ GUARDED_BY(recordMutex_){};
    FrameStats stats_ GUARDED_BY(recordMutex_);

    std::thread frameThread_;
    std::thread completionThread_;
};

}  // namespace orv::frame
