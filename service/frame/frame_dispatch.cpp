#include "service/frame/frame_dispatch.h"

#include <algorithm>
#include <chrono>

#include "platform/thread_name.h"
#include "protocol/adapter/packet_header.h"
#include "service/adapter/adapter.h"
#include "service/log/logger.h"

namespace orv::frame {

using adapter::COvwMonitor;
using log::ServiceLog;

namespace {
constexpr std::size_t kRecordFirstChunk = 10240;
constexpr std::size_t kRecordGrowth = 336;
constexpr auto kAckPoll = std::chrono::microseconds(50);
}  // namespace

CFrameDispatch::CFrameDispatch(bytes::MutBytes block, const driver::ShareLayout& layout,
                               const std::array<platform::NamedEvent*, 4>& events)
    : block_(block),
      layout_(layout),
      events_(events),
      pool_(sizeof(FrameRecord), kRecordFirstChunk, kRecordGrowth) {}

CFrameDispatch::~CFrameDispatch() {
    Stop();
}

void CFrameDispatch::Start() {
    threadStop_ = 0;
    frameThreadRunning_ = 1;
    frameThread_ = std::thread([this] { FrameThread(); });
    completionThread_ = std::thread([this] { CompletionWorker(); });
}

void CFrameDispatch::Stop() {
    threadStop_ = 1;
    stopping_ = 1;
    inFlight_.Release();
    events_[driver::kEventHalf1Ready]->Set();
    events_[driver::kEventHalf2Ready]->Set();
    queue_.Stop();
    if (frameThread_.joinable()) frameThread_.join();
    if (completionThread_.joinable()) completionThread_.join();
    while (std::optional<FrameRecord*> r = queue_.TryPop()) ReturnRecord(*r);
}

FrameRecord* CFrameDispatch::TakeRecord() {
    void* block = pool_.Allocate(sizeof(FrameRecord));
    if (block == nullptr) return nullptr;
    auto* record = new (block) FrameRecord{};
    MutexLock lock(recordMutex_);
    *std::find(live_.begin(), live_.end(), nullptr) = record;
    return record;
}

void CFrameDispatch::ReturnRecord(FrameRecord* record) {
    {
        MutexLock lock(recordMutex_);
        std::replace(live_.begin(), live_.end(), record, static_cast<FrameRecord*>(nullptr));
    }
    pool_.Free(record);
}

void CFrameDispatch::ForgetMonitor(const COvwMonitor* m) {
    MutexLock lock(recordMutex_);
    for (FrameRecord* r : live_)
        if (r != nullptr)
            std::replace(r->monitors.begin(), r->monitors.begin() + r->count,
                         const_cast<COvwMonitor*>(m), static_cast<COvwMonitor*>(nullptr));
}

FrameStats CFrameDispatch::Stats() const {
    MutexLock lock(recordMutex_);
    return stats_;
}

void CFrameDispatch::Route(bytes::MutBytes half, FrameRecord& record) {
    std::uint16_t count = 0;
    if (const driver::SlotCheck c = driver::ReadSlotCount(half, layout_, count);
        c != driver::SlotCheck::kOk) {
        ServiceLog("Frame %u: half refused, %s.\n", record.frameNumber,
                   std::string(driver::SlotCheckText(c)).c_str());
        MutexLock lock(recordMutex_);
        ++stats_.badSlots;
        return;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        driver::FrameSlot slot;
        const driver::SlotCheck c = driver::ReadFrameSlot(half, layout_, i, slot);
        if (c == driver::SlotCheck::kEmpty) continue;
        if (c != driver::SlotCheck::kOk) {
            ServiceLog("Frame %u: slot %u refused, %s.\n", record.frameNumber, i,
                       std::string(driver::SlotCheckText(c)).c_str());
            MutexLock lock(recordMutex_);
            ++stats_.badSlots;
            continue;
        }
        COvwMonitor* m = grid_->Cell(slot.column, slot.row);
        if (m == nullptr || m->Column() != static_cast<long>(slot.column) ||
            m->Row() != static_cast<long>(slot.row) || m->Removed() || !m->Placed())
            continue;
        // A second slot for the same place would send the monitor two packets
        // with one index and leave the frame waiting for an acknowledgement
        // that the first one already took.
        const auto named = record.monitors.begin() + record.count;
        if (std::find(record.monitors.begin(), named, m) != named) {
            ServiceLog("Frame %u: slot %u refused, its place already has a packet.\n",
                       record.frameNumber, i);
            MutexLock lock(recordMutex_);
            ++stats_.badSlots;
            continue;
        }
        if (record.count >= record.monitors.size()) break;
        // The slot's packet lies inside the half: stamp it in place.
        const bytes::MutBytes packet = half.subspan(
            static_cast<std::size_t>(slot.packet.data() - half.data()), slot.packet.size());
        const std::uint32_t frameIndex =
            (record.frameNumber << 8) | static_cast<std::uint32_t>(m->PortBit() & 0xFF);
        if (adapter::IsFramePacketType(packet[adapter::kOffDataType]))
            bytes::PutU32(packet, adapter::kOffFrameIndex, frameIndex);
        if (m->Adapter().Enqueue(packet.data(), static_cast<std::uint32_t>(packet.size())))
            record.monitors[record.count++] = m;
    }
}

void CFrameDispatch::FrameThread() {
    platform::SetCurrentThreadName("orv-frame");
    while (!threadStop_) {
        const bool placeTaken = inFlight_.Wait(kSemaphoreWaitMs);
        if (!placeTaken) ServiceLog("Timeout.\n");
        const int half = nextHalf_;
        events_[half == 1 ? driver::kEventHalf1Ready : driver::kEventHalf2Ready]->Wait();
        if (stopping_) break;

        const std::uint32_t frameNumber = nextFrameNumber_;
        FrameRecord* record = queue_.Size() >= kMaxBacklog ? nullptr : TakeRecord();
        if (record == nullptr) {
            {
                MutexLock lock(recordMutex_);
                ++stats_.droppedFrames;
            }
            ServiceLog("Frame %u dropped: %u frames wait for acknowledgements.\n", frameNumber,
                       static_cast<unsigned>(queue_.Size()));
            // Only a place this frame took goes back: giving one back after
            // a time-out would let the next frame skip its wait, and the
            // driver's halves would be released (and dropped) as fast as it
            // fills them while the backlog stays full.
            if (placeTaken) inFlight_.Release();
        } else {
            record->frameNumber = frameNumber;
            {
                MutexLock lock(wall::WallLayoutLock);
                if (!stopping_ && !idle_ && grid_ != nullptr)
                    Route(block_.subspan(layout_.HalfOffset(half), layout_.half), *record);
            }
            if (stopping_) {
                ReturnRecord(record);
                break;
            }
            if (record->count > 0) {
                ++nextFrameNumber_;
                {
                    MutexLock lock(recordMutex_);
                    ++stats_.frames;
                }
                if (!queue_.Push(record)) ReturnRecord(record);
            } else {
                {
                    MutexLock lock(recordMutex_);
                    ++stats_.emptyFrames;
                }
                ReturnRecord(record);
                inFlight_.Release();
            }
        }
        // Every packet was copied into its adapter's buffers: the driver may
        // refill this half now.
        events_[half == 1 ? driver::kEventHalf1Released : driver::kEventHalf2Released]->Set();
        nextHalf_ = half == 1 ? 2 : 1;
    }
    frameThreadRunning_ = 0;
}

void CFrameDispatch::CompletionWorker() {
    platform::SetCurrentThreadName("orv-complete");
    using Clock = std::chrono::steady_clock;
    while (!threadStop_) {
        if (!queue_.Wait() || threadStop_) break;
        const std::optional<FrameRecord*> front = queue_.Front();
        if (!front) continue;
        FrameRecord* record = *front;
        const auto start = Clock::now();
        bool timedOut = false;
        for (std::uint32_t i = 0; !threadStop_;) {
            const std::uint32_t looked = i;
            {
                MutexLock lock(recordMutex_);
                if (i >= record->count) break;
                COvwMonitor* m = record->monitors[i];
                // A monitor that left (or is leaving) is passed over.
                if (m == nullptr || m->Removed() || m->TakeAcknowledgedFrame(record->frameNumber))
                    ++i;
            }
            if (Clock::now() - start >= std::chrono::milliseconds(kAckWaitMs)) {
                ServiceLog("Wait frame index timeout.\n");
                timedOut = true;
                break;
            }
            // A short pause between looks instead of a busy spin: it delays
            // a show by at most this much and leaves the core to the others.
            if (i == looked) std::this_thread::sleep_for(kAckPoll);
        }
        if (threadStop_) break;
        {
            MutexLock lock(recordMutex_);
            if (timedOut) ++stats_.ackTimeouts;
            ++stats_.shownFrames;
            for (std::uint32_t i = 0; i < record->count; ++i)
                if (COvwMonitor* m = record->monitors[i]; m != nullptr && !m->Removed())
                    m->ShowFrame(record->frameNumber);
        }
        queue_.TryPop();
        ReturnRecord(record);
        inFlight_.Release();
    }
}

}  // namespace orv::frame
