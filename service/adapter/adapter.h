// COvwAdapter: the service's object for one USB display adapter.
//
// Owns the adapter's link, its monitors, two memory pools and the send queue.
// StartDev brings the adapter up (power, firmware check, version, output
// power, capabilities, identity); the notification reader follows monitor
// plug notifications and frame acknowledgements; monitorcallSetMode applies a
// mode and the two-screen topology; Enqueue copies frame packets into pooled
// buffers that the send thread writes to the link.
//
// Threads (owned, started by the constructor, joined by the destructor):
//   "orv-ad-notify"  reads pipe 0x81: plug handling (ports 0x02, 0x08, 0x10
//                    plug in and out right here), frame acknowledgements
//   "orv-ad-send"    pops the send queue and writes each packet under
//                    ModeSetLock
//   "orv-ad-plug"    runs queued plug-ins and plug-outs (ports 0x01, 0x04)
// Callers: the device manager (construction, StartDev, destruction), the wall
// model (monitorcallSetMode and Commit through the monitors), the frame
// pipeline (Enqueue, show frame).
//
// Locks, in the order they may nest:
//   modeSetLock_   a whole mode set or plug-out, and each packet send
//     -> the link's exchange lock (inside Transact)
//     -> monitorMutex_ (the monitor list and map; held only for a lookup,
//        an insertion or a removal, and while an acknowledgement is recorded)
//   plugQueueMutex_, commitMutex_, powerMutex_: leaves.
// The send queue and the pools have their own internal locks.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/blocking_fifo.h"
#include "common/mem_pool.h"
#include "common/thread_annotations.h"
#include "platform/event.h"
#include "protocol/adapter/packets.h"
#include "service/adapter/monitor.h"
#include "service/adapter/monitor_registry.h"
#include "service/link/comm_base.h"

namespace orv::adapter {

// The link an adapter owns, deleted through its concrete type.
using LinkPtr = std::unique_ptr<link::COvwCommBase, void (*)(link::COvwCommBase*)>;
template <typename Link>
LinkPtr OwnLink(std::unique_ptr<Link> l) {
    return LinkPtr(l.release(), [](link::COvwCommBase* p) { delete static_cast<Link*>(p); });
}

// What an adapter needs from the rest of the service.
struct AdapterServices {
    // The wall model; nothing means monitors get no ids (tests, tools).
    IMonitorRegistry* wall = nullptr;
    // The version query with the firmware check: 0 continue, 1 refuse. Writes
    // the firmware version text the adapter reported.
    std::function<int(link::COvwCommBase&, std::string& firmwareVersion)> versionCheck;
    // The service's own compression code, read for every topology (228 makes
    // every wall topology use ModeClass 2).
    std::function<std::uint32_t()> compressionCode;
};

// The ModeClass of a screen: 1 for 3840x2160 and 2560x1440, 0 for 1920x1080,
// 2 otherwise; 2 as well when the depth is not 32 bits, or when the topology
// is for the wall and the service's compression code is 228.
int ComputeModeClass(const DisplayMode& mode, bool showIdentification,
                     std::uint32_t compressionCode);

// The status mask the service acts on when an adapter reports more than two
// monitors: none known -> 0x05; one -> the previous mask plus 0x04 (or 0x01);
// two -> the previous mask.
std::uint8_t EffectivePlugMask(std::uint8_t reported, std::uint8_t previous, std::size_t known);

struct AdapterInfo {
    std::string chip = "410";
    std::string version = "0.0.0.0";
    std::string model = "vk410";
    std::string maker = "Quellmark";
    std::string firmwareVersion = "v 0.0.0.0";
};

class COvwAdapter {
public:
    static constexpr std::size_t kPacketBufferSize = 3u * 1024u * 1024u;
    static constexpr std::uint32_t kFrameWaitMs = 500;
    // Packets the send queue holds at most: three frames in flight for two
    // monitors, with room for one more each. A packet beyond it is refused
    // and counted, so a monitor that stops acknowledging cannot make the
    // queue and its 3 MiB buffers grow without end.
    static constexpr std::size_t kSendQueueBound = 8;

    explicit COvwAdapter(AdapterServices services);
    // Stops the threads, lets every monitor leave the wall and destroys it,
    // closes and deletes the link.
    ~COvwAdapter();
    COvwAdapter(const COvwAdapter&) = delete;
    COvwAdapter& operator=(const COvwAdapter&) = delete;

    // Gives the adapter its link (before StartDev).
    void SetLink(LinkPtr link);
    link::COvwCommBase* Link() const { return link_.get(); }

    // 0 when the adapter is up, -1 when a step failed.
    int StartDev();

    // Copies the packet into pooled buffers for the send thread. False while
    // a mode set or plug-out runs, after the adapter stopped, when the
    // packet is empty or larger than a packet buffer, or when the send queue
    // already holds kSendQueueBound packets (counted in SkippedPackets).
    bool Enqueue(const std::uint8_t* packet, std::uint32_t length);

    // Applies `mode` to the monitor on `portBit` in a screen slot (a negative
    // `screenIndex` takes the first free one and writes it back) and sends
    // the topology, the view commands and output power. 0, or -1 when no slot
    // is free.
    int monitorcallSetMode(int portBit, int& screenIndex, const DisplayMode& mode, int wallFlag,
                           int showIdentification);
    // Runs `change` under ModeSetLock. A monitor changes its mode and view
    // geometry through it: a mode set of any monitor on the adapter sends the
    // view commands of every monitor on it, reading those fields.
    void UnderModeSetLock(const std::function<void()>& change) EXCLUDES(modeSetLock_);
    // The commit command (write only), serialised.
    void Commit();

    int ORVPlugInMonitor(int portBit);
    void ORVPlugOutMonitor(int portBit);

    // The EDID of the monitor on `portBit` (retry rules of the monitor). False
    // when none could be read.
    bool GetEdid(int portBit, std::array<std::uint8_t, 256>& edid, std::uint32_t& length);

    // Writes a packet on the pipe its type selects; a show-frame that repeats
    // the last one is dropped and counts as written. True when written.
    bool WritePacket(std::uint8_t* packet, std::uint32_t length);
    // Writes the show-frame command unless this number went out last.
    void ShowFrame(std::uint32_t frameNumber);

    COvwMonitor* MonitorOnPort(int portBit) const;
    std::vector<COvwMonitor*> Monitors() const;
    std::array<std::uint8_t, kIdentitySize> Identity() const { return identity_; }
    const AdapterInfo& Info() const { return info_; }
    bool Stopped() const { return stop_ != 0; }
    bool Started() const { return started_ != 0; }
    std::uint32_t LastSentFrameIndex() const { return lastSentFrameIndex_; }
    std::uint32_t LastAckFrameIndex() const { return lastAckFrameIndex_; }
    ScreenEntry Screen(int slot) const;
    // Pool use, for tests and diagnostics.
    std::size_t QueuedPackets() const { return sendQueue_.Size(); }
    std::size_t BuffersInUse() const { return bufferPool_.UsedBlocks(); }
    std::uint64_t SkippedPackets() const { return skippedPackets_; }

private:
    struct QueueItem {
        std::uint8_t* packet;
        std::uint32_t length;
    };
    static_assert(sizeof(QueueItem) <= 16);

    void NotificationReader();
    void SendThread();
    void PlugWorker();
    void HandleMonitorPnp(std::uint8_t mask);
    bool EdidChanged(int portBit);
    void QueuePlug(bool plugIn, int portBit);
    // Pops every queued packet; with `acknowledge` each frame packet's index
    // is recorded as acknowledged by its monitor.
    void Drain(bool acknowledge) REQUIRES(modeSetLock_);
    void ReleaseItem(QueueItem* item);
    // Waits (1 ms polls, 500 ms at most) for the last frame sent to be
    // acknowledged; logs `timeoutText` when it is not.
    void WaitFrameIndex(const char* timeoutText);
    void PowerOffOutputs();
    void SendTopo(int showIdentification) REQUIRES(modeSetLock_);
    void SendOutputPower() REQUIRES(modeSetLock_);
    void SendControl(std::uint8_t dataType, const ControlBody& body);
    void DestroyMonitors();

    const AdapterServices services_;
    LinkPtr link_{nullptr, [](link::COvwCommBase*) {}};

    std::atomic<int> stop_{0};
    std::atomic<int> plugWorkerStop_{0};
    std::atomic<int> started_{0};
    std::atomic<int> framesBlocked_{0};
    std::atomic<int> wallMode_{0};
    std::array<std::uint8_t, kIdentitySize> identity_{};
    AdapterInfo info_;
    std::array<std::uint8_t, kCapsBlockSize> caps_{};

    mutable Mutex monitorMutex_ ACQUIRED_AFTER(modeSetLock_);
    std::vector<std::unique_ptr<COvwMonitor>> monitors_ GUARDED_BY(monitorMutex_);  // plug order
    std::map<int, COvwMonitor*> monitorMap_ GUARDED_BY(monitorMutex_);

    MemPool::CMemoryPool itemPool_;
    // First fit: the frame path uses two or three packet buffers at a time,
    // which then stay in the cache; next fit copied every packet into memory
    // not touched for several frames.
    MemPool::CMemoryPool bufferPool_;
    BlockingFifo<QueueItem*> sendQueue_;

    platform::Event plugEvent_{platform::Event::ResetMode::kAuto};
    Mutex plugQueueMutex_;
    std::vector<std::pair<bool, int>> plugQueue_ GUARDED_BY(plugQueueMutex_);  // {plug in, port}

    Mutex commitMutex_;
    mutable Mutex modeSetLock_ ACQUIRED_BEFORE(monitorMutex_);
    Mutex powerMutex_;
    int powered_ GUARDED_BY(powerMutex_) = 0;

    ShowFrameFilter showFrame_;
    std::atomic<std::uint32_t> lastSentFrameIndex_{0};
    std::atomic<std::uint32_t> lastAckFrameIndex_{0};
    std::atomic<std::uint64_t> skippedPackets_{0};
    // The two screen slots of the topology command.
    std::array<ScreenEntry, 2> screens_ GUARDED_BY(modeSetLock_){};
    std::uint8_t previousMask_ = 0;  // notification reader only

    std::thread notificationThread_;
    std::thread sendThread_;
    std::thread plugThread_;
};

}  // namespace orv::adapter
